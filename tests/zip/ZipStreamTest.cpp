// Entry data streams: every compression method through
// GetDecompressionStream, the one-chain-per-entry rule, interleaved entries,
// and damaged or inconsistent data.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/TempDir.h"
#include "support/ZipBuilder.h"
#include "zip/ZipArchive.h"
#include "zip/ZipFile.h"
#include "zip/ZipTestSupport.h"

using testing_support::ZipBuilder;
using testing_support::ZipEntrySpec;
using zip_test::MakeData;
using zip_test::OpenBytes;
using zip_test::Put16;
using zip_test::Put32;
using zip_test::ReadAll;
using zip_test::SameBytes;

namespace {

std::string ReadEntry(const ZipArchive::Ptr& archive, const std::string& name) {
  auto entry = archive->GetEntry(name);
  if (entry == nullptr) return "<no entry>";
  std::string data = ReadAll(entry->GetDecompressionStream());
  entry->CloseDecompressionStream();
  return data;
}

ZipEntrySpec Lzma(const std::string& name, const std::string& data, bool endMarker) {
  ZipEntrySpec spec;
  spec.name = name;
  spec.data = data;
  spec.method = 14;
  spec.lzmaEndMarker = endMarker;
  spec.versionNeeded = 63;
  return spec;
}

ZipEntrySpec Plain(const std::string& name, const std::string& data, uint16_t method) {
  ZipEntrySpec spec;
  spec.name = name;
  spec.data = data;
  spec.method = method;
  return spec;
}

// Where entry `index`'s data starts (no extra fields in builder archives).
size_t DataOffset(const ZipBuilder& builder, size_t index, const std::string& name) {
  return builder.localHeaderOffset(index) + 30 + name.size();
}

}  // namespace

TEST(EntryStream, StoredEntryYieldsExactlyItsBytes) {
  const std::string data = MakeData(100000, 2);
  auto archive = OpenBytes(ZipBuilder().add("s", data, 0).add("after", "trailing").bytes());
  auto entry = archive->GetEntry("s");
  std::istream* stream = entry->GetDecompressionStream();
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(entry->IsDecompressionStreamOpened());  // no decoder for stored data
  EXPECT_TRUE(SameBytes(ReadAll(stream), data));
  EXPECT_EQ(stream->get(), std::char_traits<char>::eof());
}

TEST(EntryStream, EveryMethodDeliversTheWholeEntry) {
  const std::string small = "hello, entry stream";
  const std::string large = MakeData(300000, 3);
  ZipBuilder builder;
  builder.add("deflate-small", small, 8).add("deflate-large", large, 8);
  builder.add("bzip2-small", small, 12).add("bzip2-large", large, 12);
  builder.add(Lzma("lzma-marker", large, true)).add(Lzma("lzma-no-marker", large, false));
  builder.add(Lzma("lzma-small", small, false));
  auto archive = OpenBytes(builder.bytes());
  ASSERT_EQ(archive->GetEntriesCount(), 7u);
  EXPECT_GT(archive->GetEntry("deflate-large")->GetCompressedSize(), 32768u);
  EXPECT_EQ(ReadEntry(archive, "deflate-small"), small);
  EXPECT_TRUE(SameBytes(ReadEntry(archive, "deflate-large"), large));
  EXPECT_EQ(ReadEntry(archive, "bzip2-small"), small);
  EXPECT_TRUE(SameBytes(ReadEntry(archive, "bzip2-large"), large));
  EXPECT_TRUE(SameBytes(ReadEntry(archive, "lzma-marker"), large));
  EXPECT_TRUE(SameBytes(ReadEntry(archive, "lzma-no-marker"), large));
  EXPECT_EQ(ReadEntry(archive, "lzma-small"), small);
}

TEST(EntryStream, Bzip2FirstBlockLargerThanOneBuffer) {
  // Random-ish data keeps the first 900 kB block well above 32 KiB
  // compressed, so the first steps consume input without any output.
  const std::string data = MakeData(1200000, 4);
  auto archive = OpenBytes(ZipBuilder().add("b", data, 12).bytes());
  EXPECT_GT(archive->GetEntry("b")->GetCompressedSize(), 4 * 32768u);
  EXPECT_TRUE(SameBytes(ReadEntry(archive, "b"), data));
}

TEST(EntryStream, EmptyEntriesEndAtOnce) {
  auto archive = OpenBytes(ZipBuilder()
                               .add("d", "", 8)
                               .add("b", "", 12)
                               .add(Lzma("l", "", true))
                               .add(Lzma("n", "", false))
                               .add("s", "", 0)
                               .addDirectory("dir")
                               .bytes());
  for (const char* name : {"d", "b", "l", "n", "s", "dir/"}) {
    auto entry = archive->GetEntry(name);
    ASSERT_NE(entry, nullptr) << name;
    std::istream* stream = entry->GetDecompressionStream();
    ASSERT_NE(stream, nullptr) << name;
    EXPECT_EQ(stream->get(), std::char_traits<char>::eof()) << name;
  }
}

TEST(EntryStream, UnknownMethodYieldsTheStoredBytes) {
  const std::string raw = "bytes of some method nobody knows";
  auto archive = OpenBytes(ZipBuilder().add("m", raw, 99).bytes());
  EXPECT_EQ(archive->GetEntry("m")->GetCompressionMethod(), 99);
  EXPECT_EQ(ReadEntry(archive, "m"), raw);
}

TEST(EntryStream, SecondOpenIsRefusedUntilClosedThenRestarts) {
  const std::string data = MakeData(70000, 5);
  for (uint16_t method : {0, 8}) {
    auto archive = OpenBytes(ZipBuilder().add("e", data, method).bytes());
    auto entry = archive->GetEntry("e");
    std::istream* first = entry->GetDecompressionStream();
    ASSERT_NE(first, nullptr);
    char head[10];
    first->read(head, sizeof(head));
    EXPECT_EQ(entry->GetDecompressionStream(), nullptr);
    EXPECT_EQ(std::string(head, sizeof(head)), data.substr(0, 10));
    entry->CloseDecompressionStream();
    EXPECT_FALSE(entry->IsDecompressionStreamOpened());
    EXPECT_TRUE(SameBytes(ReadAll(entry->GetDecompressionStream()), data)) << method;
    EXPECT_EQ(entry->IsDecompressionStreamOpened(), method == 8);
  }
}

TEST(EntryStream, TwoEntriesReadAlternately) {
  const std::string a = MakeData(200000, 6);
  const std::string b = MakeData(150000, 7);
  const std::string c = MakeData(90000, 8);
  auto archive = OpenBytes(ZipBuilder().add("a", a, 8).add("b", b, 0).add("c", c, 12).bytes());
  std::istream* streams[] = {archive->GetEntry("a")->GetDecompressionStream(),
                             archive->GetEntry("b")->GetDecompressionStream(),
                             archive->GetEntry("c")->GetDecompressionStream()};
  std::string got[3];
  bool active = true;
  while (active) {
    active = false;
    for (int i = 0; i < 3; ++i) {
      char chunk[777];
      streams[i]->read(chunk, sizeof(chunk));
      got[i].append(chunk, static_cast<size_t>(streams[i]->gcount()));
      active = active || streams[i]->gcount() > 0;
    }
  }
  EXPECT_TRUE(SameBytes(got[0], a));
  EXPECT_TRUE(SameBytes(got[1], b));
  EXPECT_TRUE(SameBytes(got[2], c));
}

TEST(EntryStream, VersionAbove63IsRefused) {
  ZipEntrySpec spec;
  spec.name = "v";
  spec.data = "data";
  spec.versionNeeded = 64;
  auto archive = OpenBytes(ZipBuilder().add(spec).bytes());
  EXPECT_EQ(archive->GetEntry("v")->GetDecompressionStream(), nullptr);
  spec.versionNeeded = 63;
  archive = OpenBytes(ZipBuilder().add(spec).bytes());
  EXPECT_EQ(ReadEntry(archive, "v"), "data");
}

TEST(EntryStream, LocalHeaderOffsetIsHonoured) {
  ZipBuilder builder;
  builder.add("a", "first").add("b", "second");
  auto archive = OpenBytes(builder.bytes());
  auto b = archive->GetEntry("b");
  EXPECT_EQ(b->GetOffsetOfCompressedData(), static_cast<std::streamoff>(DataOffset(builder, 1, "b")));
  EXPECT_EQ(b->SeekToCompressedData(), static_cast<std::streamoff>(DataOffset(builder, 1, "b")));
  EXPECT_EQ(ReadAll(b->GetDecompressionStream()), "second");
}

TEST(EntryStream, LocalExtraAreaIsSkippedEvenWhenMalformed) {
  for (const std::string& extra :
       {std::string("\x01\x00\x02\x00\xAA\xBB", 6), std::string("\x01\x00\x40\x00\xAA", 5)}) {
    ZipBuilder builder;
    builder.add("a", "payload");
    std::string bytes = builder.bytes();
    bytes.insert(30 + 1, extra);
    Put16(bytes, 28, static_cast<uint16_t>(extra.size()));
    Put32(bytes, builder.centralHeaderOffset(0) + extra.size() + 42, 0);
    Put32(bytes, builder.endRecordOffset() + extra.size() + 16,
          static_cast<uint32_t>(builder.centralDirectoryOffset() + extra.size()));
    auto archive = OpenBytes(bytes);
    ASSERT_EQ(archive->GetEntriesCount(), 1u);
    EXPECT_EQ(ReadEntry(archive, "a"), "payload");
  }
}

TEST(EntryStream, MissingLocalHeaderMakesTheEntryUnreadable) {
  ZipBuilder builder;
  builder.add("a", "first").add("b", "second", 8);
  std::string bytes = builder.bytes();
  bytes[builder.localHeaderOffset(1) + 1] = 'X';  // signature broken
  auto archive = OpenBytes(bytes);
  auto b = archive->GetEntry("b");
  EXPECT_EQ(b->GetDecompressionStream(), nullptr);
  EXPECT_EQ(b->GetOffsetOfCompressedData(), std::streamoff(-1));
  EXPECT_EQ(b->GetSize(), 6u);  // metadata still there
  EXPECT_EQ(ReadEntry(archive, "a"), "first");

  // A local header offset past the end of the file.
  std::string past = builder.bytes();
  Put32(past, builder.centralHeaderOffset(1) + 42, 0x7FFFFFF0);
  EXPECT_EQ(OpenBytes(past)->GetEntry("b")->GetDecompressionStream(), nullptr);
}

TEST(EntryStream, DataShorterThanStatedEndsEarly) {
  const std::string data = MakeData(120000, 10);
  for (uint16_t method : {0, 8, 12, 14}) {
    ZipBuilder builder;
    builder.add(method == 14 ? Lzma("e", data, true) : Plain("e", data, method));
    std::string bytes = builder.bytes();
    const size_t sizeField = builder.centralHeaderOffset(0) + 20;
    const uint32_t compressed = static_cast<uint32_t>(static_cast<unsigned char>(bytes[sizeField])) |
                                static_cast<uint32_t>(static_cast<unsigned char>(bytes[sizeField + 1])) << 8 |
                                static_cast<uint32_t>(static_cast<unsigned char>(bytes[sizeField + 2])) << 16;
    Put32(bytes, sizeField, compressed / 2);
    auto archive = OpenBytes(bytes);
    const std::string got = ReadEntry(archive, "e");
    EXPECT_LT(got.size(), data.size()) << method;
    EXPECT_TRUE(SameBytes(got, data.substr(0, got.size()))) << method;
  }
}

TEST(EntryStream, DataLongerThanStatedIsBoundedByTheDecoder) {
  const std::string data = MakeData(50000, 11);
  for (uint16_t method : {8, 12, 14}) {
    ZipBuilder builder;
    builder.add(method == 14 ? Lzma("e", data, true) : Plain("e", data, method)).add("next", "tail");
    std::string bytes = builder.bytes();
    // The compressed size now covers the next entry's header too: the
    // decoder stops at the end of its own data.
    Put32(bytes, builder.centralHeaderOffset(0) + 20, static_cast<uint32_t>(builder.localHeaderOffset(1) + 40));
    EXPECT_TRUE(SameBytes(ReadEntry(OpenBytes(bytes), "e"), data)) << method;
  }
  // Stored data has no end of its own: the bytes that follow come along.
  ZipBuilder builder;
  builder.add("e", "stored").add("next", "tail");
  std::string bytes = builder.bytes();
  Put32(bytes, builder.centralHeaderOffset(0) + 20, 10);
  EXPECT_EQ(ReadEntry(OpenBytes(bytes), "e"), std::string("stored") + bytes.substr(builder.localHeaderOffset(1), 4));
}

TEST(EntryStream, CorruptCompressedDataEndsQuietly) {
  const std::string data = MakeData(200000, 12);
  for (uint16_t method : {8, 12, 14}) {
    ZipBuilder builder;
    builder.add(method == 14 ? Lzma("e", data, true) : Plain("e", data, method));
    // The builder compresses afresh for every query: ask once.
    const std::string clean = builder.bytes();
    const size_t start = DataOffset(builder, 0, "e");
    const size_t end = builder.centralDirectoryOffset();
    const size_t length = end - start;
    for (size_t cut : {size_t{0}, size_t{3}, size_t{9}, length / 3, length / 2}) {
      std::string bytes = clean;
      for (size_t i = 0; i < 64 && start + cut + i < end; ++i) {
        bytes[start + cut + i] = static_cast<char>(bytes[start + cut + i] ^ 0x5A);
      }
      auto archive = OpenBytes(bytes);
      ASSERT_EQ(archive->GetEntriesCount(), 1u);
      const std::string got = ReadEntry(archive, "e");
      EXPECT_FALSE(got == data) << method << " at " << cut;
      EXPECT_LE(got.size(), data.size() + 65536) << method << " at " << cut;
    }
  }
}

TEST(EntryStream, ForgedLzmaDictionarySizeIsHarmless) {
  const std::string data = MakeData(100000, 13);
  ZipBuilder builder;
  builder.add(Lzma("e", data, false));
  std::string bytes = builder.bytes();
  // Properties: byte 4 is lc/lp/pb, bytes 5-8 the dictionary size.
  Put32(bytes, DataOffset(builder, 0, "e") + 5, 0xFFFFFFFF);
  EXPECT_TRUE(SameBytes(ReadEntry(OpenBytes(bytes), "e"), data));
}

TEST(EntryStream, BadLzmaHeaderEndsAtOnce) {
  ZipBuilder builder;
  builder.add(Lzma("e", "some data", true));
  std::string bytes = builder.bytes();
  bytes[DataOffset(builder, 0, "e") + 4] = static_cast<char>(0xFF);  // lc/lp/pb out of range
  EXPECT_EQ(ReadEntry(OpenBytes(bytes), "e"), "");
  // Fewer than 9 header bytes.
  Put32(bytes, builder.centralHeaderOffset(0) + 20, 5);
  EXPECT_EQ(ReadEntry(OpenBytes(bytes), "e"), "");
}

TEST(EntryStream, TruncatedArchiveFileEndsTheStream) {
  testing_support::TempDir dir;
  const std::string data = MakeData(100000, 14);
  ZipBuilder builder;
  builder.add("first", "small").add("big", data, 0);
  builder.write(dir / "p.zip");
  auto archive = ZipFile::Open((dir / "p.zip").string());
  ASSERT_EQ(archive->GetEntriesCount(), 2u);
  const size_t start = DataOffset(builder, 1, "big");
  std::filesystem::resize_file(dir / "p.zip", start + 1000);
  EXPECT_EQ(ReadEntry(archive, "big"), data.substr(0, 1000));
  // The shared stream hit its end; other entries still read.
  EXPECT_EQ(ReadEntry(archive, "first"), "small");
}

TEST(EntryStream, ArchiveStreamMovedByOthersDoesNotDisturbAnEntry) {
  const std::string data = MakeData(300000, 15);
  for (uint16_t method : {0, 8}) {
    std::istringstream stream(ZipBuilder().add("e", data, method).bytes());
    auto archive = ZipArchive::Create(stream);
    ASSERT_GT(archive->GetEntry("e")->GetCompressedSize(), 2 * 32768u);
    std::istream* entry = archive->GetEntry("e")->GetDecompressionStream();
    std::string got;
    char chunk[40000];
    while (entry->read(chunk, sizeof(chunk)), entry->gcount() > 0) {
      got.append(chunk, static_cast<size_t>(entry->gcount()));
      // Another user moves the shared stream and leaves it failed.
      stream.seekg(0);
      stream.setstate(std::ios::failbit);
    }
    EXPECT_TRUE(SameBytes(got, data)) << method;
  }
}

TEST(EntryStream, ArchiveDestroyedFirstReleasesTheChain) {
  ZipArchiveEntry::Ptr kept;
  {
    auto archive = OpenBytes(ZipBuilder().add("e", MakeData(5000), 8).bytes());
    kept = archive->GetEntry("e");
    ASSERT_NE(kept->GetDecompressionStream(), nullptr);
  }
  EXPECT_FALSE(kept->IsDecompressionStreamOpened());
  EXPECT_EQ(kept->GetFullName(), "e");
  EXPECT_EQ(kept->GetDecompressionStream(), nullptr);
}
