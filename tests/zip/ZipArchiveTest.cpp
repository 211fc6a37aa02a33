// Opening archives and reading their directory, whole or damaged.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/TempDir.h"
#include "zip/ZipFile.h"
#include "zip/ZipTestSupport.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using namespace zip_test;

namespace {

std::string Names(const ZipArchive::Ptr& archive) {
  std::string names;
  for (size_t i = 0; i < archive->GetEntriesCount(); ++i) {
    names += archive->GetEntry(static_cast<int>(i))->GetFullName() + ";";
  }
  return names;
}

std::string OpenError(const fs::path& path) {
  return testing_support::outputAndError([&] { ZipFile::Open(path.string()); }).error;
}

}  // namespace

TEST(ZipFileOpen, ReadsAnArchiveCreatesAMissingFileAndChangesNoOther) {
  TempDir dir;
  ZipBuilder().add("a.txt", "alpha").addDirectory("d").add("d/b.txt", "beta", 8).comment("v7").write(dir / "p.zip");
  auto archive = ZipFile::Open((dir / "p.zip").string());
  EXPECT_EQ(Names(archive), "a.txt;d/;d/b.txt;");
  EXPECT_EQ(archive->GetComment(), "v7");
  EXPECT_EQ(ReadEntry(archive, "d/b.txt"), "beta");
  EXPECT_EQ(ZipFile::Open((dir / "new.zip").string())->GetEntriesCount(), 0u);
  EXPECT_EQ(readFile(dir / "new.zip"), "");
  const fs::path notes = dir.write("notes.zip", "not an archive, just text\n");
  EXPECT_EQ(ZipFile::Open(notes.string())->GetEntriesCount(), 0u);
  EXPECT_EQ(readFile(notes), "not an archive, just text\n");
}

TEST(ZipFileOpen, UnopenablePathsAreRefusedAndLeftAlone) {
  TempDir dir;
  dir.mkdir("folder.zip");
  EXPECT_EQ(OpenError(dir / "folder.zip"), "cannot open zip file");
  EXPECT_TRUE(fs::is_directory(dir / "folder.zip"));
  EXPECT_EQ(OpenError(dir / "missing" / "p.zip"), "cannot open zip file");
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(EndRecord, NoStreamOrShortOrCutRecords) {
  EXPECT_EQ(ZipArchive::Create(nullptr, true)->GetEntry("x"), nullptr);
  EXPECT_EQ(OpenBytes("")->GetEntriesCount(), 0u);
  EXPECT_EQ(OpenBytes(std::string("PK\x05\x06", 4) + std::string(13, '\0'))->GetEntriesCount(), 0u);
  // Exactly 18 bytes: the signature is found but the record is cut off.
  auto cut = OpenBytes(std::string("PK\x05\x06", 4) + std::string(14, '\x07'));
  EXPECT_EQ(cut->GetEntriesCount(), 0u);
  EXPECT_EQ(cut->GetComment(), "");
  // A comment cut by the end of the file keeps what is there.
  std::string bytes = ZipBuilder().add("a", "1").comment("abcdef").bytes();
  bytes.resize(bytes.size() - 2);
  auto archive = OpenBytes(bytes);
  EXPECT_EQ(archive->GetComment(), "abcd");
  EXPECT_EQ(Names(archive), "a;");
}

TEST(EndRecord, ScanWalksBackOverAnyLengthAndBlockBoundaries) {
  const std::string archive = ZipBuilder().add("f", "1").bytes();
  std::string noise = MakeData(3 << 20, 9);
  for (size_t at = noise.find("PK"); at != std::string::npos; at = noise.find("PK", at)) noise[at] = 'p';
  EXPECT_EQ(OpenBytes(noise)->GetEntriesCount(), 0u);
  EXPECT_EQ(Names(OpenBytes(archive + noise)), "f;");
  for (size_t padding : {65534u, 131071u}) {
    EXPECT_EQ(Names(OpenBytes(archive + std::string(padding, 'z'))), "f;") << padding;
  }
}

TEST(CentralDirectory, DamageKeepsTheEntriesReadBeforeIt) {
  ZipBuilder builder;
  builder.add("a", "1").add("b", "2").add("c", "3");
  const std::string clean = builder.bytes();
  const size_t end = builder.endRecordOffset(), second = builder.centralHeaderOffset(1);
  const size_t third = builder.centralHeaderOffset(2);
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* names;
  } cases[] = {
      {"offset at a local header", [&](std::string& b) { patch(b, end + 16, 0); }, ""},
      {"wrong signature", [&](std::string& b) { b[second] = 'Q'; }, "a;"},
      {"name past the end", [&](std::string& b) { patch(b, second + 28, 0xFFFF, 2); }, "a;"},
      {"header cut in half", [&](std::string& b) { b = b.substr(0, third + 20) + b.substr(end); }, "a;b;"},
      {"record counts wrong", [&](std::string& b) { patch(b, end + 8, 0x10001), patch(b, end + 12, 7); }, "a;b;c;"},
  };
  for (const auto& c : cases) {
    std::string bytes = clean;
    c.damage(bytes);
    auto archive = OpenBytes(bytes);
    EXPECT_EQ(Names(archive), c.names) << c.what;
    // The stream stays usable for the entries read before the damage.
    EXPECT_EQ(ReadEntry(archive, "a"), archive->GetEntriesCount() > 0 ? "1" : "<no entry>") << c.what;
  }
}

TEST(CentralDirectory, MalformedExtraAreaIsSkippedAsDeclared) {
  ZipBuilder builder;
  std::string bytes = builder.add("a", "first").add("b", "second").bytes();
  const size_t header = builder.centralHeaderOffset(0);
  // A field claiming more bytes than the area holds, then stray bytes.
  const std::string extra("\x01\x00\x0A\x00\xAA\xBB", 6);
  bytes.insert(header + 46 + 1, extra + "note");
  patch(bytes, header + 30, static_cast<uint32_t>(extra.size()), 2);
  patch(bytes, header + 32, 4, 2);
  auto archive = OpenBytes(bytes);
  EXPECT_EQ(Names(archive), "a;b;");
  EXPECT_EQ(archive->GetEntry("a")->GetComment(), "note");
  EXPECT_EQ(ReadEntry(archive, "b"), "second");
}

TEST(EntryLookup, ByIndexAndByExactName) {
  auto archive = OpenBytes(ZipBuilder()
                               .add("manifest.json", "first")
                               .add("Manifest.json", "upper")
                               .add("manifest.json", "second")
                               .add("/lead.txt", "lead")
                               .bytes());
  ASSERT_EQ(archive->GetEntriesCount(), 4u);
  EXPECT_EQ(ReadEntry(archive, "manifest.json"), "first");
  EXPECT_EQ(ReadAll(archive->GetEntry(2)->GetDecompressionStream()), "second");
  EXPECT_EQ(ReadEntry(archive, "Manifest.json"), "upper");
  EXPECT_EQ(ReadEntry(archive, "lead.txt"), "lead");
  for (const char* missing : {"MANIFEST.JSON", "/lead.txt"}) EXPECT_EQ(archive->GetEntry(missing), nullptr) << missing;
}
