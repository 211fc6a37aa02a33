// Entry metadata: name normalisation, the directory rule, and sizes.
#include <gtest/gtest.h>

#include "zip/ZipTestSupport.h"

using namespace zip_test;

namespace {

// The only entry of an archive holding `spec` (metadata outlives the archive).
ZipArchiveEntry::Ptr Single(const ZipEntrySpec& spec) {
  auto archive = OpenBytes(ZipBuilder().add(spec).bytes());
  EXPECT_EQ(archive->GetEntriesCount(), 1u) << spec.name;
  return archive->GetEntriesCount() == 1 ? archive->GetEntry(0) : nullptr;
}

}  // namespace

TEST(EntryName, IsNormalisedAndEmptyOrSlashOnlyNamesAreSkipped) {
  const struct {
    const char *stored, *fullName, *name;
  } cases[] = {{"plain.txt", "plain.txt", "plain.txt"},
               {"\\a\\b.txt", "a/b.txt", "b.txt"},
               {"//x//y", "x/y", "y"},
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
}

// A directory exactly when the name ends in "/"; it reports zero sizes and CRC.
TEST(DirectoryRule, AttributesAndSizesFollowTheName) {
  const struct {
    const char* name;
    uint32_t stored;
    bool directory;
    uint32_t attributes;
  } cases[] = {
      {"f", (0100755u << 16) | 0x20, false, (0100755u << 16) | 0x20},  // Unix mode and archive bit: unchanged
      {"f", 0100644u << 16, false, (0100644u << 16) | 0x20},           // no MS-DOS bits: archive bit added
      {"f", 0x30, false, 0x20},                                        // directory bit without "/": a file
      {"d/", 040700u << 16, true, (040700u << 16) | 0x10},
      {"d/", 0x20, true, 0x10},  // archive bit with "/": a directory
      {"d/", 0x30, true, 0x10},  // both bits with "/": still a directory, not an empty file "d"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.stored));
    ZipEntrySpec spec = Spec(c.name);
    spec.externalAttributes = c.stored;
    ZipBuilder builder;
    std::string bytes = builder.add(spec).bytes();
    for (size_t field : {16u, 20u, 24u}) patch(bytes, builder.centralHeaderOffset(0) + field, 7);  // CRC, sizes
    auto archive = OpenBytes(bytes);
    ASSERT_EQ(archive->GetEntriesCount(), 1u);
    auto entry = archive->GetEntry(0);
    EXPECT_EQ(entry->GetFullName(), c.name);
    EXPECT_EQ(entry->GetName(), c.directory ? "" : c.name);
    EXPECT_EQ(entry->IsDirectory(), c.directory);
    EXPECT_EQ(entry->GetAttributes(), c.attributes);
    EXPECT_EQ(entry->GetSize() + entry->GetCompressedSize() + entry->GetCrc32(), c.directory ? 0u : 21u);
  }
}

TEST(EntryMetadata, VersionAbove63CannotBeExtracted) {
  for (uint16_t version : {63, 64}) {
    ZipEntrySpec spec = Spec("v", "data");
    spec.versionNeeded = version;
    auto archive = OpenBytes(ZipBuilder().add(spec).bytes());
    auto entry = archive->GetEntry("v");
    EXPECT_EQ(entry->CanExtract(), version <= 63) << version;
    EXPECT_EQ(ReadEntry(archive, "v"), version <= 63 ? "data" : "<null>") << version;
  }
}
