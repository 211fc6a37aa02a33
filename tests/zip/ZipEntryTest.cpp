// Entry metadata: name normalisation, the directory rule, attributes,
// versions, times and the other accessors.
#include <gtest/gtest.h>

#include <ctime>

#include "zip/TimeUtils.h"
#include "zip/ZipTestSupport.h"

using namespace zip_test;

namespace {

// The only entry of an archive holding `spec`; entries keep their metadata
// after the archive is gone.
ZipArchiveEntry::Ptr Single(const ZipEntrySpec& spec) {
  auto archive = OpenBytes(ZipBuilder().add(spec).bytes());
  EXPECT_EQ(archive->GetEntriesCount(), 1u) << spec.name;
  return archive->GetEntriesCount() == 1 ? archive->GetEntry(0) : nullptr;
}

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm fields{};
  fields.tm_year = year - 1900, fields.tm_mon = month - 1, fields.tm_mday = day;
  fields.tm_hour = hour, fields.tm_min = minute, fields.tm_sec = second, fields.tm_isdst = -1;
  return std::mktime(&fields);
}

}  // namespace

TEST(EntryName, IsNormalisedAndEmptyOrSlashOnlyNamesAreSkipped) {
  const struct {
    const char *stored, *fullName, *name;
  } cases[] = {{"plain.txt", "plain.txt", "plain.txt"},
               {"\\a\\b.txt", "a/b.txt", "b.txt"},
               {"//x//y", "x/y", "y"},
               {"a\\\\/b", "a/b", "b"},
               {"///deep///", "deep/", ""},
               {"a/./b", "a/./b", "b"}};
  for (const auto& c : cases) {
    auto entry = Single(Spec(c.stored));
    ASSERT_NE(entry, nullptr) << c.stored;
    EXPECT_EQ(entry->GetFullName(), c.fullName) << c.stored;
    EXPECT_EQ(entry->GetName(), c.name) << c.stored;
  }
  auto archive = OpenBytes(ZipBuilder().add("", "x").add("/", "x").add("\\/\\", "x").add("kept", "k").bytes());
  ASSERT_EQ(archive->GetEntriesCount(), 1u);
  EXPECT_EQ(archive->GetEntry(0)->GetFullName(), "kept");
  EXPECT_TRUE(ZipArchiveEntry::IsValidFilename(" "));
}

// A directory exactly when the normalised name ends in "/"; a directory
// reports zero sizes and CRC whatever is stored.
TEST(DirectoryRule, AttributesAndSizesFollowTheName) {
  const struct {
    const char* name;
    uint32_t stored;
    bool directory;
    uint32_t attributes;
  } cases[] = {
      {"f", (0100755u << 16) | 0x20, false, (0100755u << 16) | 0x20},  // Unix mode and archive bit: unchanged
      {"f", 0100644u << 16, false, (0100644u << 16) | 0x20},           // no MS-DOS bits: archive bit added
      {"f", 0x10, false, 0x20},                                        // directory bit without "/": a file
      {"f", 0x30, false, 0x20},
      {"d/", (040755u << 16) | 0x10, true, (040755u << 16) | 0x10},
      {"d/", 040700u << 16, true, (040700u << 16) | 0x10},
      {"d/", 0x20, true, 0x10},  // archive bit with "/": a directory
      {"d/", 0x30, true, 0x10},  // both bits with "/": still a directory, name kept
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.stored));
    ZipEntrySpec spec = Spec(c.name);
    spec.externalAttributes = c.stored;
    ZipBuilder builder;
    std::string bytes = builder.add(spec).bytes();
    for (size_t field : {16u, 20u, 24u}) Put32(bytes, builder.centralHeaderOffset(0) + field, 7);  // CRC, sizes
    auto archive = OpenBytes(bytes);
    ASSERT_EQ(archive->GetEntriesCount(), 1u);
    auto entry = archive->GetEntry(0);
    EXPECT_EQ(entry->GetFullName(), c.name);
    EXPECT_EQ(entry->GetName(), c.directory ? "" : c.name);
    EXPECT_EQ(entry->IsDirectory(), c.directory);
    EXPECT_EQ(entry->GetAttributes(), c.attributes);
    EXPECT_EQ(entry->GetSize() + entry->GetCompressedSize() + entry->GetCrc32(), c.directory ? 0u : 21u);
  }
  auto entry = Single(Spec("x"));
  entry->SetAttributes(ZipArchiveEntry::Attributes::Directory);
  EXPECT_EQ(entry->GetFullName(), "x/");
  EXPECT_TRUE(entry->IsDirectory());
  entry->SetAttributes(ZipArchiveEntry::Attributes::Archive);
  EXPECT_EQ(entry->GetFullName(), "x");
  EXPECT_FALSE(entry->IsDirectory());
}

TEST(EntryMetadata, AccessorsReportTheCentralHeader) {
  ZipEntrySpec spec = Spec("data.bin", MakeData(1000), 8);
  spec.dosTime = (13 << 11) | (45 << 5) | 10;  // 13:45:20
  spec.dosDate = (44 << 9) | (6 << 5) | 15;    // 2024-06-15
  spec.dataDescriptor = true;
  auto entry = Single(spec);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->GetSize(), 1000u);
  EXPECT_EQ(entry->GetCompressedSize(), testing_support::zip_codecs::deflateRaw(spec.data).size());
  EXPECT_EQ(entry->GetCrc32(), testing_support::zip_codecs::crc32(spec.data));
  EXPECT_EQ(entry->GetCompressionMethod(), 8);
  EXPECT_EQ(entry->GetGeneralPurposeBitFlag(), 0x0008);
  EXPECT_TRUE(entry->IsUsingDataDescriptor());
  EXPECT_FALSE(entry->IsPasswordProtected());
  EXPECT_EQ(entry->GetVersionMadeBy() & 0xFF00, 3 << 8);
  EXPECT_EQ(entry->GetPassword(), "");
  EXPECT_EQ(entry->GetLastWriteTime(), LocalTime(2024, 6, 15, 13, 45, 20));
}

TEST(EntryMetadata, VersionAbove63CannotBeExtracted) {
  for (uint16_t version : {10, 63, 64, 0xFFFF}) {
    ZipEntrySpec spec = Spec("v", "data");
    spec.versionNeeded = version;
    auto archive = OpenBytes(ZipBuilder().add(spec).bytes());
    auto entry = archive->GetEntry("v");
    EXPECT_EQ(entry->GetVersionToExtract(), version);
    EXPECT_EQ(entry->CanExtract(), version <= 63) << version;
    EXPECT_EQ(ReadEntry(archive, "v"), version <= 63 ? "data" : "<null>") << version;
  }
}

TEST(DosTime, ConvertsBothWaysAndClampsTo1980) {
  const time_t moment = LocalTime(1999, 12, 31, 23, 59, 58);
  uint16_t date = 0, time = 0;
  utils::time::timestamp_to_datetime(moment, date, time);
  EXPECT_EQ(date, ((1999 - 1980) << 9) | (12 << 5) | 31);
  EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);
  EXPECT_EQ(utils::time::datetime_to_timestamp(date, time), moment);
  EXPECT_EQ(utils::time::datetime_to_timestamp(0x21, 0), LocalTime(1980, 1, 1, 0, 0, 0));
  utils::time::timestamp_to_datetime(0, date, time);
  EXPECT_EQ(date, 0x21);
  EXPECT_EQ(time, 0);
}
