// Entry metadata: name normalisation, the directory rule, attributes,
// versions, times and the other accessors.
#include <gtest/gtest.h>

#include <ctime>

#include "support/ZipBuilder.h"
#include "zip/TimeUtils.h"
#include "zip/ZipArchive.h"
#include "zip/ZipTestSupport.h"

using testing_support::ZipBuilder;
using testing_support::ZipEntrySpec;
using zip_test::OpenBytes;
using zip_test::Put32;

namespace {

ZipEntrySpec Spec(const std::string& name, const std::string& data = "") {
  ZipEntrySpec spec;
  spec.name = name;
  spec.data = data;
  return spec;
}

ZipEntrySpec WithAttributes(ZipEntrySpec spec, uint32_t attributes) {
  spec.externalAttributes = attributes;
  return spec;
}

// The only entry of an archive holding `spec`.
ZipArchiveEntry::Ptr Single(const ZipEntrySpec& spec) {
  auto archive = OpenBytes(ZipBuilder().add(spec).bytes());
  EXPECT_EQ(archive->GetEntriesCount(), 1u);
  // Entries keep their metadata after the archive is gone.
  return archive->GetEntriesCount() == 1 ? archive->GetEntry(0) : nullptr;
}

}  // namespace

TEST(EntryName, IsNormalised) {
  struct Case {
    std::string stored, fullName, name;
  };
  const Case cases[] = {
      {"plain.txt", "plain.txt", "plain.txt"},
      {"\\a\\b.txt", "a/b.txt", "b.txt"},
      {"//x//y", "x/y", "y"},
      {"a\\\\/b", "a/b", "b"},
      {"///deep///", "deep/", ""},
      {"dir/sub/", "dir/sub/", ""},
      {"a/./b", "a/./b", "b"},
  };
  for (const Case& c : cases) {
    auto entry = Single(Spec(c.stored));
    ASSERT_NE(entry, nullptr) << c.stored;
    EXPECT_EQ(entry->GetFullName(), c.fullName) << c.stored;
    EXPECT_EQ(entry->GetName(), c.name) << c.stored;
  }
}

TEST(EntryName, EmptyAndSlashOnlyNamesAreSkipped) {
  auto archive =
      OpenBytes(ZipBuilder().add("", "x").add("/", "x").add("\\/\\", "x").add("kept", "k").add("//", "x").bytes());
  ASSERT_EQ(archive->GetEntriesCount(), 1u);
  EXPECT_EQ(archive->GetEntry(0)->GetFullName(), "kept");
  EXPECT_FALSE(ZipArchiveEntry::IsValidFilename(""));
  EXPECT_FALSE(ZipArchiveEntry::IsValidFilename("\\"));
  EXPECT_TRUE(ZipArchiveEntry::IsValidFilename("\\a"));
  EXPECT_TRUE(ZipArchiveEntry::IsValidFilename(" "));
}

TEST(DirectoryRule, TrailingSlashMakesADirectoryWithZeroSizes) {
  ZipBuilder builder;
  builder.addDirectory("dir");
  std::string bytes = builder.bytes();
  // Stored sizes and CRC that a directory should not report.
  Put32(bytes, builder.centralHeaderOffset(0) + 16, 0xDEADBEEF);
  Put32(bytes, builder.centralHeaderOffset(0) + 20, 5);
  Put32(bytes, builder.centralHeaderOffset(0) + 24, 7);
  auto archive = OpenBytes(bytes);
  ASSERT_EQ(archive->GetEntriesCount(), 1u);
  auto entry = archive->GetEntry(0);
  EXPECT_TRUE(entry->IsDirectory());
  EXPECT_EQ(entry->GetFullName(), "dir/");
  EXPECT_EQ(entry->GetName(), "");
  EXPECT_EQ(entry->GetSize(), 0u);
  EXPECT_EQ(entry->GetCompressedSize(), 0u);
  EXPECT_EQ(entry->GetCrc32(), 0u);
  EXPECT_EQ(entry->GetAttributes(), (040755u << 16) | 0x10u);
}

TEST(DirectoryRule, AttributesFollowTheName) {
  struct Case {
    std::string name;
    uint32_t stored;
    std::string fullName;
    bool directory;
    uint32_t attributes;
  };
  const Case cases[] = {
      // Unix mode with the archive bit: unchanged.
      {"f", (0100755u << 16) | 0x20, "f", false, (0100755u << 16) | 0x20},
      // No MS-DOS bits: the archive bit is added to a file.
      {"f", 0100644u << 16, "f", false, (0100644u << 16) | 0x20},
      // Directory bit on a name without "/": a file.
      {"f", 0x10, "f", false, 0x20},
      // No MS-DOS bits on a name with "/": a directory.
      {"d/", 040700u << 16, "d/", true, (040700u << 16) | 0x10},
      // Archive bit on a name with "/": a directory.
      {"d/", 0x20, "d/", true, 0x10},
      // Both bits on a name with "/": still a directory, name kept.
      {"d/", 0x30, "d/", true, 0x10},
      // Both bits on a file name: a file.
      {"f", 0x30, "f", false, 0x20},
  };
  for (const Case& c : cases) {
    auto entry = Single(WithAttributes(Spec(c.name), c.stored));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->GetFullName(), c.fullName) << c.name << " " << std::oct << c.stored;
    EXPECT_EQ(entry->IsDirectory(), c.directory) << c.name << " " << std::oct << c.stored;
    EXPECT_EQ(entry->GetAttributes(), c.attributes) << c.name << " " << std::oct << c.stored;
  }
}

TEST(DirectoryRule, SetAttributesSwitchesKindAndName) {
  auto entry = Single(Spec("x"));
  ASSERT_NE(entry, nullptr);
  entry->SetAttributes(ZipArchiveEntry::Attributes::Directory);
  EXPECT_EQ(entry->GetFullName(), "x/");
  EXPECT_TRUE(entry->IsDirectory());
  entry->SetAttributes(ZipArchiveEntry::Attributes::Archive);
  EXPECT_EQ(entry->GetFullName(), "x");
  EXPECT_FALSE(entry->IsDirectory());
}

TEST(EntryMetadata, AccessorsReportTheCentralHeader) {
  ZipEntrySpec spec = Spec("data.bin", zip_test::MakeData(1000));
  spec.method = 8;
  spec.dosTime = (13 << 11) | (45 << 5) | 10;  // 13:45:20
  spec.dosDate = (44 << 9) | (6 << 5) | 15;    // 2024-06-15
  spec.versionNeeded = 20;
  spec.dataDescriptor = true;
  auto entry = Single(spec);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->GetSize(), 1000u);
  EXPECT_GT(entry->GetCompressedSize(), 0u);
  EXPECT_LT(entry->GetCompressedSize(), 1000u);
  EXPECT_EQ(entry->GetCrc32(), testing_support::zip_codecs::crc32(spec.data));
  EXPECT_EQ(entry->GetCompressionMethod(), 8);
  EXPECT_EQ(entry->GetGeneralPurposeBitFlag() & 0x0009, 0x0008);
  EXPECT_TRUE(entry->IsUsingDataDescriptor());
  EXPECT_FALSE(entry->IsPasswordProtected());
  EXPECT_EQ(entry->GetVersionToExtract(), 20);
  EXPECT_EQ(entry->GetVersionMadeBy() & 0xFF00, 3 << 8);
  EXPECT_EQ(entry->GetOffsetOfLocalHeader(), 0u);
  EXPECT_EQ(entry->GetPassword(), "");

  std::tm expected{};
  expected.tm_year = 2024 - 1900;
  expected.tm_mon = 5;
  expected.tm_mday = 15;
  expected.tm_hour = 13;
  expected.tm_min = 45;
  expected.tm_sec = 20;
  expected.tm_isdst = -1;
  EXPECT_EQ(entry->GetLastWriteTime(), std::mktime(&expected));
}

TEST(EntryMetadata, SecondEntryReportsItsOwnLocalHeaderOffset) {
  ZipBuilder builder;
  builder.add("a", "12345").add("b", "x");
  auto archive = OpenBytes(builder.bytes());
  EXPECT_EQ(archive->GetEntry("b")->GetOffsetOfLocalHeader(), builder.localHeaderOffset(1));
  EXPECT_EQ(archive->GetEntry("b")->GetOffsetOfCompressedData(),
            static_cast<std::streamoff>(builder.localHeaderOffset(1) + 30 + 1));
}

TEST(EntryMetadata, CanExtractUpToVersion63) {
  for (uint16_t version : {10, 20, 45, 63, 64, 0xFFFF}) {
    ZipEntrySpec spec = Spec("v");
    spec.versionNeeded = version;
    auto entry = Single(spec);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->GetVersionToExtract(), version);
    EXPECT_EQ(entry->CanExtract(), version <= 63) << version;
  }
}

TEST(DosTime, ConvertsBothWays) {
  std::tm fields{};
  fields.tm_year = 1999 - 1900;
  fields.tm_mon = 11;
  fields.tm_mday = 31;
  fields.tm_hour = 23;
  fields.tm_min = 59;
  fields.tm_sec = 58;
  fields.tm_isdst = -1;
  const time_t moment = std::mktime(&fields);

  uint16_t date = 0, time = 0;
  utils::time::timestamp_to_datetime(moment, date, time);
  EXPECT_EQ(date, ((1999 - 1980) << 9) | (12 << 5) | 31);
  EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);
  EXPECT_EQ(utils::time::datetime_to_timestamp(date, time), moment);

  // The earliest DOS date, 1980-01-01 00:00:00.
  std::tm epoch{};
  epoch.tm_year = 80;
  epoch.tm_mday = 1;
  epoch.tm_isdst = -1;
  EXPECT_EQ(utils::time::datetime_to_timestamp(0x21, 0), std::mktime(&epoch));
  // Times before 1980 clamp to it.
  utils::time::timestamp_to_datetime(0, date, time);
  EXPECT_EQ(date, 0x21);
  EXPECT_EQ(time, 0);
}
