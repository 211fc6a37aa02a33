// Opening archives and reading their directory: ZipFile::Open, the end
// record search, central directory reading and its failure modes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "zip/ZipArchive.h"
#include "zip/ZipFile.h"
#include "zip/ZipTestSupport.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::ZipBuilder;
using zip_test::OpenBytes;
using zip_test::Put16;
using zip_test::Put32;

namespace {

std::string Names(const ZipArchive::Ptr& archive) {
  std::string names;
  for (size_t i = 0; i < archive->GetEntriesCount(); ++i) {
    names += archive->GetEntry(static_cast<int>(i))->GetFullName() + ";";
  }
  return names;
}

std::string ThrowText(const std::string& path) {
  try {
    ZipFile::Open(path);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "<no exception>";
}

}  // namespace

// --- ZipFile::Open ---------------------------------------------------------

TEST(ZipFileOpen, ReadsTheDirectoryOfAnArchiveFile) {
  TempDir dir;
  ZipBuilder().add("a.txt", "alpha").addDirectory("d").add("d/b.txt", "beta", 8).write(dir / "p.zip");
  auto archive = ZipFile::Open((dir / "p.zip").string());
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(Names(archive), "a.txt;d/;d/b.txt;");
  EXPECT_EQ(zip_test::ReadAll(archive->GetEntry("d/b.txt")->GetDecompressionStream()), "beta");
}

TEST(ZipFileOpen, MissingPathBecomesAnEmptyFileAndAnEmptyArchive) {
  TempDir dir;
  const fs::path path = dir / "new.zip";
  auto archive = ZipFile::Open(path.string());
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(archive->GetEntriesCount(), 0u);
  ASSERT_TRUE(fs::is_regular_file(path));
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(ZipFileOpen, ExistingFileThatIsNoArchiveIsLeftUnchanged) {
  TempDir dir;
  const std::string content = "this is not an archive, just some text\n";
  const fs::path path = dir.write("notes.zip", content);
  auto archive = ZipFile::Open(path.string());
  EXPECT_EQ(archive->GetEntriesCount(), 0u);
  EXPECT_EQ(archive->GetComment(), "");
  archive.reset();
  EXPECT_EQ(readFile(path), content);
}

TEST(ZipFileOpen, DirectoryPathIsRefused) {
  TempDir dir;
  dir.mkdir("folder.zip");
  EXPECT_EQ(ThrowText((dir / "folder.zip").string()), "cannot open zip file");
  EXPECT_TRUE(fs::is_directory(dir / "folder.zip"));
}

TEST(ZipFileOpen, PathInMissingDirectoryCannotBeCreated) {
  TempDir dir;
  EXPECT_EQ(ThrowText((dir / "missing" / "p.zip").string()), "cannot open zip file");
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(ZipFileOpen, UnreadableFileIsRefusedAndKept) {
  if (geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
  TempDir dir;
  const fs::path path = dir.write("locked.zip", "content");
  fs::permissions(path, fs::perms::none);
  EXPECT_EQ(ThrowText(path.string()), "cannot open zip file");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(readFile(path), "content");
}

TEST(ZipArchiveCreate, NullStreamGivesAnEmptyArchive) {
  auto archive = ZipArchive::Create(nullptr, true);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(archive->GetEntriesCount(), 0u);
  EXPECT_EQ(archive->GetEntry("x"), nullptr);
}

TEST(ZipArchiveCreate, ReferenceFormLeavesTheStreamToTheCaller) {
  std::istringstream stream(ZipBuilder().add("x", "data").bytes());
  {
    auto archive = ZipArchive::Create(stream);
    ASSERT_EQ(archive->GetEntriesCount(), 1u);
    EXPECT_EQ(zip_test::ReadAll(archive->GetEntry(0)->GetDecompressionStream()), "data");
  }
  // Still usable after the archive is gone.
  stream.clear();
  stream.seekg(0);
  EXPECT_EQ(stream.get(), 'P');
}

// --- End record --------------------------------------------------------------

TEST(EndRecord, ArchiveCommentIsReturned) {
  auto archive = OpenBytes(ZipBuilder().add("a", "1").comment("release 7").bytes());
  EXPECT_EQ(archive->GetComment(), "release 7");
  EXPECT_EQ(archive->GetEntriesCount(), 1u);
}

TEST(EndRecord, SignatureInsideTheCommentWins) {
  ZipBuilder builder;
  builder.add("a", "1").add("b", "2");
  // A fake end record inside the comment, pointing at the second central
  // header, with its own 3-byte comment "xyz".
  std::string fake("PK\x05\x06", 4);
  fake += std::string(12, '\0');
  fake += std::string(4, '\0');
  fake += std::string(2, '\0');
  fake += "xyz";
  builder.comment(fake);
  std::string bytes = builder.bytes();
  const size_t fakeAt = builder.endRecordOffset() + 22;
  ASSERT_EQ(bytes.compare(fakeAt, 4, "PK\x05\x06"), 0);
  Put32(bytes, fakeAt + 16, static_cast<uint32_t>(builder.centralHeaderOffset(1)));
  Put16(bytes, fakeAt + 20, 3);
  auto archive = OpenBytes(bytes);
  EXPECT_EQ(archive->GetComment(), "xyz");
  EXPECT_EQ(Names(archive), "b;");
}

TEST(EndRecord, RecordCountsAreNotUsed) {
  ZipBuilder builder;
  builder.add("a", "1").add("b", "2").add("c", "3");
  std::string bytes = builder.bytes();
  Put16(bytes, builder.endRecordOffset() + 8, 1);
  Put16(bytes, builder.endRecordOffset() + 10, 1);
  Put32(bytes, builder.endRecordOffset() + 12, 7);
  EXPECT_EQ(Names(OpenBytes(bytes)), "a;b;c;");
}

TEST(EndRecord, EmptyAndShortStreamsHaveNoEntries) {
  EXPECT_EQ(OpenBytes("")->GetEntriesCount(), 0u);
  EXPECT_EQ(OpenBytes(std::string("PK\x05\x06", 4) + std::string(13, '\0'))->GetEntriesCount(), 0u);
  // Exactly 18 bytes: the signature is found but the record is cut off.
  auto cut = OpenBytes(std::string("PK\x05\x06", 4) + std::string(14, '\x07'));
  EXPECT_EQ(cut->GetEntriesCount(), 0u);
  EXPECT_EQ(cut->GetComment(), "");
}

TEST(EndRecord, CommentCutOffByTheEndOfTheFileKeepsWhatIsThere) {
  ZipBuilder builder;
  builder.add("a", "1").comment("abcdef");
  std::string bytes = builder.bytes();
  bytes.resize(bytes.size() - 2);
  auto archive = OpenBytes(bytes);
  EXPECT_EQ(archive->GetComment(), "abcd");
  EXPECT_EQ(Names(archive), "a;");
}

TEST(EndRecord, LargeFileWithoutSignatureIsScannedWhole) {
  // 3 MiB without the signature bytes, then an archive in front: the scan
  // must walk back over all of it and across block boundaries.
  const std::string archiveBytes = ZipBuilder().add("first", "1").bytes();
  std::string noise = zip_test::MakeData(3 << 20, 9);
  for (size_t at = noise.find("PK"); at != std::string::npos; at = noise.find("PK", at)) noise[at] = 'p';
  EXPECT_EQ(OpenBytes(noise)->GetEntriesCount(), 0u);
  // The end record of the archive lies 3 MiB before the end of the stream;
  // its directory offset is still right because the archive comes first.
  EXPECT_EQ(Names(OpenBytes(archiveBytes + noise)), "first;");
}

TEST(EndRecord, SignatureSpanningScanBlocksIsFound) {
  for (size_t padding : {65530u, 65533u, 65534u, 65536u, 131071u}) {
    const std::string archiveBytes = ZipBuilder().add("f", "1").bytes();
    const std::string bytes = archiveBytes + std::string(padding, 'z');
    EXPECT_EQ(Names(OpenBytes(bytes)), "f;") << padding;
  }
}

TEST(SeekToSignature, ForwardAndBackwardFindTheNearestOccurrence) {
  const char bytes[] = "..PK\x05\x06....PK\x05\x06..";
  std::istringstream stream(std::string(bytes, sizeof(bytes) - 1));
  stream.seekg(7);
  ASSERT_TRUE(ZipArchive::SeekToSignature(stream, 0x06054b50, ZipArchive::SeekDirection::Backward));
  EXPECT_EQ(stream.tellg(), 2);
  stream.seekg(3);
  ASSERT_TRUE(ZipArchive::SeekToSignature(stream, 0x06054b50, ZipArchive::SeekDirection::Forward));
  EXPECT_EQ(stream.tellg(), 10);
  stream.seekg(11);
  EXPECT_FALSE(ZipArchive::SeekToSignature(stream, 0x06054b50, ZipArchive::SeekDirection::Forward));
  stream.seekg(1);
  EXPECT_FALSE(ZipArchive::SeekToSignature(stream, 0x06054b50, ZipArchive::SeekDirection::Backward));
  // A stream already at its end or failed reports failure.
  stream.setstate(std::ios::failbit);
  EXPECT_FALSE(ZipArchive::SeekToSignature(stream, 0x06054b50, ZipArchive::SeekDirection::Backward));
}

// --- Central directory -------------------------------------------------------

TEST(CentralDirectory, OffsetPointingElsewhereGivesNoEntries) {
  ZipBuilder builder;
  builder.add("a", "1");
  std::string bytes = builder.bytes();
  Put32(bytes, builder.endRecordOffset() + 16, 0);  // the local header
  EXPECT_EQ(OpenBytes(bytes)->GetEntriesCount(), 0u);
  Put32(bytes, builder.endRecordOffset() + 16, 0xFFFFFF00u);  // past the end
  EXPECT_EQ(OpenBytes(bytes)->GetEntriesCount(), 0u);
}

TEST(CentralDirectory, WrongSignatureStopsReadingThere) {
  ZipBuilder builder;
  builder.add("a", "1").add("b", "2").add("c", "3");
  std::string bytes = builder.bytes();
  bytes[builder.centralHeaderOffset(1)] = 'Q';
  auto archive = OpenBytes(bytes);
  EXPECT_EQ(Names(archive), "a;");
  // The stream stays usable for the entries read before.
  EXPECT_EQ(zip_test::ReadAll(archive->GetEntry("a")->GetDecompressionStream()), "1");
}

TEST(CentralDirectory, HeaderRunningPastTheEndOfTheFileIsNotAnEntry) {
  for (size_t field : {28u, 30u, 32u}) {  // name, extra and comment lengths
    ZipBuilder builder;
    builder.add("a", "1").add("b", "2");
    std::string bytes = builder.bytes();
    Put16(bytes, builder.centralHeaderOffset(1) + field, 0xFFFF);
    EXPECT_EQ(Names(OpenBytes(bytes)), "a;") << field;
  }
}

TEST(CentralDirectory, TruncatedDirectoryKeepsTheEntriesBeforeTheCut) {
  ZipBuilder builder;
  builder.add("a", "1").add("b", "2").add("c", "3");
  std::string bytes = builder.bytes();
  // Keep the end record but cut the third header in half.
  const std::string endRecord = bytes.substr(builder.endRecordOffset());
  bytes = bytes.substr(0, builder.centralHeaderOffset(2) + 20) + endRecord;
  EXPECT_EQ(Names(OpenBytes(bytes)), "a;b;");
}

TEST(CentralDirectory, EveryCutOfAnArchiveIsHandled) {
  ZipBuilder builder;
  builder.add("one", "first entry", 8).add("two/", "").add("three", zip_test::MakeData(3000), 12).comment("c");
  const std::string bytes = builder.bytes();
  const size_t endRecord = builder.endRecordOffset();  // the builder recompresses per query
  for (size_t length = 0; length < bytes.size(); ++length) {
    auto archive = OpenBytes(bytes.substr(0, length));
    for (size_t i = 0; i < archive->GetEntriesCount(); ++i) {
      zip_test::ReadAll(archive->GetEntry(static_cast<int>(i))->GetDecompressionStream());
    }
    // Without its end record only a stray signature could give entries.
    if (length < endRecord) {
      EXPECT_EQ(archive->GetEntriesCount(), 0u) << length;
    }
  }
}

TEST(CentralDirectory, ExtraAreasWellFormedOrNotDoNotLoseEntries) {
  ZipBuilder builder;
  builder.add("a", "first").add("b", "second");
  const std::string plain = builder.bytes();
  const size_t header = builder.centralHeaderOffset(0);
  const size_t extraAt = header + 46 + 1;

  // A well-formed area (tag 0x5455, 1 data byte) and a malformed one (a
  // field claiming more bytes than the area holds, then stray bytes).
  const std::string wellFormed("\x55\x54\x01\x00\x07", 5);
  const std::string malformed("\x01\x00\x0A\x00\xAA\xBB\xCC\xDD", 8);
  for (const std::string& extra : {wellFormed, malformed}) {
    std::string bytes = plain;
    bytes.insert(extraAt, extra);
    Put16(bytes, header + 30, static_cast<uint16_t>(extra.size()));
    auto archive = OpenBytes(bytes);
    EXPECT_EQ(Names(archive), "a;b;");
    EXPECT_EQ(zip_test::ReadAll(archive->GetEntry("b")->GetDecompressionStream()), "second");
  }
}

TEST(CentralDirectory, EntryCommentIsReturned) {
  ZipBuilder builder;
  builder.add("a", "1").add("b", "2");
  std::string bytes = builder.bytes();
  const size_t header = builder.centralHeaderOffset(0);
  bytes.insert(header + 46 + 1, "note");
  Put16(bytes, header + 32, 4);
  auto archive = OpenBytes(bytes);
  EXPECT_EQ(archive->GetEntry("a")->GetComment(), "note");
  EXPECT_EQ(archive->GetEntry("b")->GetComment(), "");
}

// --- Lookup --------------------------------------------------------------------

TEST(EntryLookup, ByIndexAndByExactName) {
  auto archive = OpenBytes(ZipBuilder()
                               .add("manifest.json", "first")
                               .add("Manifest.json", "upper")
                               .add("manifest.json", "second")
                               .add("/lead.txt", "lead")
                               .bytes());
  ASSERT_EQ(archive->GetEntriesCount(), 4u);
  EXPECT_EQ(zip_test::ReadAll(archive->GetEntry("manifest.json")->GetDecompressionStream()), "first");
  EXPECT_EQ(zip_test::ReadAll(archive->GetEntry(2)->GetDecompressionStream()), "second");
  EXPECT_EQ(zip_test::ReadAll(archive->GetEntry("Manifest.json")->GetDecompressionStream()), "upper");
  EXPECT_EQ(archive->GetEntry("MANIFEST.JSON"), nullptr);
  EXPECT_EQ(archive->GetEntry("manifest.json "), nullptr);
  EXPECT_EQ(archive->GetEntry("manifest"), nullptr);
  EXPECT_EQ(archive->GetEntry(""), nullptr);
  EXPECT_NE(archive->GetEntry("lead.txt"), nullptr);
  EXPECT_EQ(archive->GetEntry("/lead.txt"), nullptr);
}
