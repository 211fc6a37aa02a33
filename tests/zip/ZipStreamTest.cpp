// Entry data streams: every method, one open chain per entry, interleaved
// reads, and damaged or inconsistent data.
#include <gtest/gtest.h>

#include "zip/ZipTestSupport.h"
#include "zip/methods/deflate_decoder.h"

using namespace zip_test;

TEST(EntryStream, EveryMethodDeliversTheWholeEntry) {
  const std::string large = MakeData(300000, 3), huge = MakeData(1200000, 4);
  std::vector<ZipEntrySpec> cases = {Spec("stored", large),
                                     Spec("deflate-large", large, 8),
                                     Spec("bzip2-huge", huge, 12),
                                     Spec("lzma-marker", large, 14, true),
                                     Spec("lzma-no-marker", large, 14, false),
                                     Spec("method-99", "bytes of a method nobody knows", 99),
                                     Spec("empty-14-no-marker", "", 14, false)};
  for (uint16_t method : {0, 8, 12, 14}) cases.push_back(Spec("empty-" + std::to_string(method), "", method));
  ZipBuilder builder;
  for (const ZipEntrySpec& c : cases) builder.add(c);
  auto archive = OpenBytes(builder.addDirectory("dir").bytes());
  ASSERT_EQ(archive->GetEntriesCount(), cases.size() + 1);
  // More than one 32 KiB buffer of compressed input; a first bzip2 block that
  // takes several input steps before any output.
  EXPECT_GT(archive->GetEntry("deflate-large")->GetCompressedSize(), 32768u);
  EXPECT_GT(archive->GetEntry("bzip2-huge")->GetCompressedSize(), 4 * 32768u);
  for (const ZipEntrySpec& c : cases) {
    std::istream* stream = archive->GetEntry(c.name)->GetDecompressionStream();
    ASSERT_NE(stream, nullptr) << c.name;
    EXPECT_TRUE(SameBytes(ReadAll(stream), c.data)) << c.name;
    EXPECT_EQ(stream->get(), std::char_traits<char>::eof()) << c.name;
  }
  EXPECT_EQ(ReadEntry(archive, "dir/"), "");
}

TEST(EntryStream, SecondOpenIsRefusedUntilClosedAndNoneOutlivesTheArchive) {
  const std::string data = MakeData(70000, 5);
  auto archive = OpenBytes(ZipBuilder().add("e", data, 8).bytes());
  auto entry = archive->GetEntry("e");
  std::istream* first = entry->GetDecompressionStream();
  ASSERT_NE(first, nullptr);
  char head[10];
  first->read(head, sizeof(head));
  EXPECT_EQ(entry->GetDecompressionStream(), nullptr);
  EXPECT_EQ(std::string(head, sizeof(head)), data.substr(0, 10));
  entry->CloseDecompressionStream();
  EXPECT_TRUE(SameBytes(ReadAll(entry->GetDecompressionStream()), data));
  // An entry that outlives its archive keeps its metadata but no chain.
  archive.reset();
  EXPECT_FALSE(entry->IsDecompressionStreamOpened());
  EXPECT_EQ(entry->GetDecompressionStream(), nullptr);
  EXPECT_EQ(entry->GetFullName(), "e");
}

TEST(EntryStream, EntriesReadAlternatelyWhileOthersMoveTheStream) {
  const std::string data[] = {MakeData(200000, 6), MakeData(150000, 7), MakeData(90000, 8)};
  std::istringstream stream(ZipBuilder().add("a", data[0], 8).add("b", data[1], 0).add("c", data[2], 12).bytes());
  auto archive = ZipArchive::Create(stream);  // borrowed: the archive must not delete it
  std::istream* streams[] = {archive->GetEntry("a")->GetDecompressionStream(),
                             archive->GetEntry("b")->GetDecompressionStream(),
                             archive->GetEntry("c")->GetDecompressionStream()};
  std::string got[3];
  for (bool active = true; active;) {
    active = false;
    for (int i = 0; i < 3; ++i) {
      char chunk[40000];  // more than one 32 KiB refill per read
      streams[i]->read(chunk, sizeof(chunk));
      got[i].append(chunk, static_cast<size_t>(streams[i]->gcount()));
      active = active || streams[i]->gcount() > 0;
      // Another user moves the shared stream and leaves it failed.
      stream.seekg(0);
      stream.setstate(std::ios::failbit);
    }
  }
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(SameBytes(got[i], data[i])) << i;
}

TEST(EntryStream, LocalHeaderLocatesTheData) {
  ZipBuilder builder;
  const std::string clean = builder.add("a", "first").add("b", "second", 8).bytes();
  // Without a local header at the stored offset the entry is unreadable;
  // its metadata and the other entries stay.
  std::string bytes = clean;
  bytes[builder.localHeaderOffset(1) + 1] = 'X';
  auto archive = OpenBytes(bytes);
  EXPECT_EQ(archive->GetEntry("b")->GetDecompressionStream(), nullptr);
  EXPECT_EQ(archive->GetEntry("b")->GetSize(), 6u);
  EXPECT_EQ(ReadEntry(archive, "a"), "first");
  bytes = clean;
  patch(bytes, builder.centralHeaderOffset(1) + 42, 0x7FFFFFF0);  // past the end of the file
  EXPECT_EQ(ReadEntry(OpenBytes(bytes), "b"), "<null>");
}

TEST(EntryStream, WrongSizesAndCorruptDataEndQuietly) {
  const std::string data = MakeData(120000, 10);
  for (const ZipEntrySpec& spec :
       {Spec("e", data), Spec("e", data, 8), Spec("e", data, 12), Spec("e", data, 14, false)}) {
    SCOPED_TRACE("method " + std::to_string(spec.method) + (spec.lzmaEndMarker ? "" : " without end marker"));
    ZipBuilder builder;
    const std::string clean = builder.add(spec).add("next", "tail").bytes();  // the builder recompresses per query
    const size_t sizeField = builder.centralHeaderOffset(0) + 20, start = builder.localHeaderOffset(0) + 30 + 1;
    const size_t length = builder.localHeaderOffset(1) - start;
    // Shorter than stated: a prefix of the data.
    std::string bytes = clean;
    patch(bytes, sizeField, static_cast<uint32_t>(length / 2));
    const std::string prefix = ReadEntry(OpenBytes(bytes), "e");
    EXPECT_LT(prefix.size(), data.size());
    EXPECT_TRUE(SameBytes(prefix, data.substr(0, prefix.size())));
    // Longer than stated, past the end of the file: a decoder stops at the
    // end of its own data; stored data brings the rest of the file along.
    // The shared stream hit its end; "next" still reads.
    bytes = clean;
    patch(bytes, sizeField, 0x7FFFFFF0);
    auto archive = OpenBytes(bytes);
    EXPECT_TRUE(SameBytes(ReadEntry(archive, "e"), spec.method == 0 ? bytes.substr(start) : data));
    EXPECT_EQ(ReadEntry(archive, "next"), "tail");
    // Corrupt data ends or differs, without running away (a damaged bzip2
    // block may still mis-expand its runs before its CRC fails).
    for (size_t at : {size_t{3}, length / 2}) {
      if (spec.method == 0) break;
      bytes = clean;
      for (size_t i = start + at; i < start + at + 64 && i < start + length; ++i) bytes[i] ^= 0x5A;
      const std::string got = ReadEntry(OpenBytes(bytes), "e");
      EXPECT_FALSE(got == data) << at;
      EXPECT_LE(got.size(), 2 * data.size()) << at;
    }
  }
}

TEST(EntryStream, LzmaHeaderDamage) {
  const std::string data = MakeData(100000, 13);
  ZipBuilder builder;
  const std::string clean = builder.add(Spec("e", data, 14, false)).bytes();
  const size_t properties = builder.localHeaderOffset(0) + 31 + 4;  // after header, name and version
  std::string bytes = clean;
  // A forged dictionary size is harmless: the entry's size bounds it.
  patch(bytes, properties + 1, 0xFFFFFFFF);
  EXPECT_TRUE(SameBytes(ReadEntry(OpenBytes(bytes), "e"), data));
  bytes[properties] = static_cast<char>(0xFF);  // lc/lp/pb out of range
  EXPECT_EQ(ReadEntry(OpenBytes(bytes), "e"), "");
  bytes = clean;
  patch(bytes, builder.centralHeaderOffset(0) + 20, 5);  // fewer than 9 header bytes
  EXPECT_EQ(ReadEntry(OpenBytes(bytes), "e"), "");
}

#if UPDATER_WITH_ISAL
// ISA-L stops at other places than zlib in damaged deflate data (a few bytes
// past some errors, one symbol early at a cut); the entry ends where zlib's
// decoder ends, so unpacking reports the same byte counts.
TEST(EntryStream, DamagedDeflateEndsWhereZlibEnds) {
  const std::string data = MakeData(200000, 21);
  ZipBuilder builder;
  const std::string clean = builder.add(Spec("e", data, 8)).bytes();
  const size_t start = builder.localHeaderOffset(0) + 31, sizeField = builder.centralHeaderOffset(0) + 20;
  const size_t length = OpenBytes(clean)->GetEntry("e")->GetCompressedSize();
  ASSERT_EQ(length, 56609u);  // the places below are where the two libraries differ
  struct Damage {
    size_t cutAt;   // compressed size set to this, 0: unchanged
    size_t flipAt;  // 64 bytes garbled from here (relative to the data), or none
  } damages[] = {{6226, length}, {21369, length}, {51372, length}, {0, 141}, {0, 1415}, {0, 2830}};

  for (const Damage& damage : damages) {
    std::string bytes = clean;
    if (damage.cutAt != 0) patch(bytes, sizeField, static_cast<uint32_t>(damage.cutAt));
    for (size_t i = damage.flipAt; i < damage.flipAt + 64 && i < length; ++i) bytes[start + i] ^= 0x5A;
    std::istringstream archiveBytes(bytes);
    StreamSource source(archiveBytes);
    isubstream window(source, static_cast<std::streamoff>(start),
                      static_cast<std::streamsize>(damage.cutAt != 0 ? damage.cutAt : length));
    deflate_decoder_properties props;
    compression_decoder_stream zlib(std::make_shared<zlib_deflate_decoder>(), props, window);
    EXPECT_TRUE(SameBytes(ReadEntry(OpenBytes(bytes), "e"), ReadAll(&zlib))) << damage.cutAt << " " << damage.flipAt;
  }
}
#endif
