// Checks the test-side archive builder against Info-ZIP's unzip (as an
// independent reader) and against the compression libraries' own decoders.
#include <gtest/gtest.h>
#include <lzma.h>

#include <cstring>
#include <random>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace ts = testing_support;

namespace {

const char* kUnzip = "/usr/bin/unzip";

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(generator() & 0xff);
  return out;
}

std::string textBytes(size_t size) {
  std::string out;
  while (out.size() < size) out += "line " + std::to_string(out.size()) + " of some compressible text\n";
  out.resize(size);
  return out;
}

uint32_t read32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

uint16_t read16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8);
}

// Decodes a raw LZMA1 stream; `knownSize` set means "no end marker allowed".
bool decodeLzma(const std::string& zipLzma, std::optional<uint64_t> knownSize, std::string& out) {
  lzma_options_lzma options{};
  lzma_filter decodeFilter = {LZMA_FILTER_LZMA1, nullptr};
  if (lzma_properties_decode(&decodeFilter, nullptr, reinterpret_cast<const uint8_t*>(zipLzma.data()) + 4, 5) !=
      LZMA_OK)
    return false;
  std::memcpy(&options, decodeFilter.options, sizeof options);
  free(decodeFilter.options);
  if (knownSize) {
    lzma_set_ext_size(options, *knownSize);
    options.ext_flags = 0;
  }
  lzma_filter filters[2] = {{knownSize ? LZMA_FILTER_LZMA1EXT : LZMA_FILTER_LZMA1, &options},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&stream, filters) != LZMA_OK) return false;
  std::string buffer(1 << 20, '\0');
  stream.next_in = reinterpret_cast<const uint8_t*>(zipLzma.data()) + 9;
  stream.avail_in = zipLzma.size() - 9;
  stream.next_out = reinterpret_cast<uint8_t*>(buffer.data());
  stream.avail_out = buffer.size();
  lzma_ret result = lzma_code(&stream, LZMA_FINISH);
  bool whole = result == LZMA_STREAM_END && stream.avail_in == 0;
  buffer.resize(stream.total_out);
  lzma_end(&stream);
  out = buffer;
  return whole;
}

}  // namespace

TEST(ZipBuilder, StoredDeflateAndBzip2EntriesPassUnzipTest) {
  ts::TempDir dir;
  std::string big = textBytes(200000);
  std::string noise = randomBytes(70000, 7);
  ts::ZipBuilder()
      .add("stored.txt", "hello\n")
      .add("deflated.txt", big, 8)
      .add("bzipped.bin", noise, 12)
      .add("empty.txt", "", 8)
      .addDirectory("sub")
      .add("sub/inner.txt", "inner", 12)
      .comment("an archive comment")
      .write(dir / "a.zip");

  ts::RunResult test = ts::run(kUnzip, {"-t", (dir / "a.zip").string()});
  EXPECT_EQ(test.status, 0) << test.out << test.err;
  EXPECT_NE(test.out.find("No errors detected"), std::string::npos) << test.out;

  EXPECT_EQ(ts::run(kUnzip, {"-p", (dir / "a.zip").string(), "deflated.txt"}).out, big);
  EXPECT_EQ(ts::run(kUnzip, {"-p", (dir / "a.zip").string(), "bzipped.bin"}).out, noise);
  EXPECT_EQ(ts::run(kUnzip, {"-p", (dir / "a.zip").string(), "stored.txt"}).out, "hello\n");
  EXPECT_EQ(ts::run(kUnzip, {"-p", (dir / "a.zip").string(), "sub/inner.txt"}).out, "inner");
  EXPECT_EQ(ts::run(kUnzip, {"-z", (dir / "a.zip").string()}).out.find("an archive comment") != std::string::npos,
            true);
}

TEST(ZipBuilder, EncryptedEntriesOpenWithTheirPasswordOnly) {
  ts::TempDir dir;
  std::string text = textBytes(50000);
  for (bool descriptor : {false, true}) {
    for (uint16_t method : {uint16_t{0}, uint16_t{8}, uint16_t{12}}) {
      ts::ZipEntrySpec entry;
      entry.name = "secret.txt";
      entry.data = text;
      entry.method = method;
      entry.password = "pa55word";
      entry.dataDescriptor = descriptor;
      entry.dosTime = 0x7a3c;  // high byte differs from the CRC's
      ts::ZipBuilder().add(entry).write(dir / "e.zip");
      SCOPED_TRACE("method " + std::to_string(method) + (descriptor ? " with descriptor" : ""));

      ts::RunResult good = ts::run(kUnzip, {"-P", "pa55word", "-p", (dir / "e.zip").string()});
      EXPECT_EQ(good.status, 0) << good.err;
      EXPECT_EQ(good.out, text);
      ts::RunResult tested = ts::run(kUnzip, {"-P", "pa55word", "-t", (dir / "e.zip").string()});
      EXPECT_EQ(tested.status, 0) << tested.out;
      ts::RunResult bad = ts::run(kUnzip, {"-P", "wrong", "-p", (dir / "e.zip").string()});
      EXPECT_NE(bad.out, text);
    }
  }
}

TEST(ZipBuilder, EncryptionHeaderEndsWithTheCheckByte) {
  // The keystream up to the 12th byte depends only on the password and the
  // 11 filler bytes, so two headers differing in the check byte differ in
  // their last byte by exactly the two check bytes' XOR.
  std::string a = ts::zip_codecs::encrypt("data", "pw", 0x11);
  std::string b = ts::zip_codecs::encrypt("data", "pw", 0x22);
  ASSERT_EQ(a.size(), 16u);
  EXPECT_EQ(a.substr(0, 11), b.substr(0, 11));
  EXPECT_NE(a[11], b[11]);
  EXPECT_EQ(static_cast<uint8_t>(a[11] ^ b[11]), 0x11 ^ 0x22);
}

TEST(ZipBuilder, LzmaWithAndWithoutEndMarker) {
  std::string text = textBytes(100000);
  std::string withMarker = ts::zip_codecs::lzma(text, true);
  std::string withoutMarker = ts::zip_codecs::lzma(text, false);
  ASSERT_GT(withMarker.size(), 9u);
  EXPECT_EQ(read16(withMarker, 2), 5);
  EXPECT_EQ(read16(withoutMarker, 2), 5);

  std::string out;
  EXPECT_TRUE(decodeLzma(withMarker, std::nullopt, out));
  EXPECT_EQ(out, text);
  // Without a marker the stream decodes whole only when the size is known...
  EXPECT_TRUE(decodeLzma(withoutMarker, text.size(), out));
  EXPECT_EQ(out, text);
  // ...and a decoder that insists on a marker never sees one.
  EXPECT_FALSE(decodeLzma(withoutMarker, std::nullopt, out));
  EXPECT_LT(withoutMarker.size(), withMarker.size());
}

TEST(ZipBuilder, HeadersCarryMethodFlagsAndAttributes) {
  ts::ZipEntrySpec lzmaEntry;
  lzmaEntry.name = "x.lzma";
  lzmaEntry.data = "abcabcabc";
  lzmaEntry.method = 14;
  lzmaEntry.versionNeeded = 63;
  ts::ZipEntrySpec odd;
  odd.name = "odd";
  odd.data = "raw bytes";
  odd.method = 99;
  odd.externalAttributes = 0x20;
  ts::ZipBuilder builder;
  builder.add(lzmaEntry).add(odd).addDirectory("d/").add("f", "12345");
  std::string bytes = builder.bytes();

  size_t c0 = builder.centralHeaderOffset(0);
  EXPECT_EQ(read32(bytes, c0), 0x02014b50u);
  EXPECT_EQ(read16(bytes, c0 + 6), 63);
  EXPECT_EQ(read16(bytes, c0 + 8), 0x0002);  // end marker flag
  EXPECT_EQ(read16(bytes, c0 + 10), 14);
  EXPECT_EQ(read32(bytes, c0 + 16), ts::zip_codecs::crc32("abcabcabc"));

  size_t c1 = builder.centralHeaderOffset(1);
  EXPECT_EQ(read16(bytes, c1 + 10), 99);
  EXPECT_EQ(read32(bytes, c1 + 20), 9u);
  EXPECT_EQ(read32(bytes, c1 + 38), 0x20u);
  size_t l1 = builder.localHeaderOffset(1);
  EXPECT_EQ(read32(bytes, c1 + 42), l1);
  EXPECT_EQ(bytes.substr(l1 + 30 + 3, 9), "raw bytes");

  EXPECT_EQ(read32(bytes, builder.centralHeaderOffset(2) + 38), (040755u << 16) | 0x10u);
  EXPECT_EQ(read32(bytes, builder.centralHeaderOffset(3) + 38), 0100644u << 16);

  size_t end = builder.endRecordOffset();
  EXPECT_EQ(read32(bytes, end), 0x06054b50u);
  EXPECT_EQ(read16(bytes, end + 10), 4);
  EXPECT_EQ(read32(bytes, end + 16), builder.centralDirectoryOffset());
  EXPECT_EQ(end + 22, bytes.size());
}

TEST(ZipBuilder, DataDescriptorFollowsTheData) {
  ts::ZipEntrySpec entry;
  entry.name = "dd.txt";
  entry.data = textBytes(3000);
  entry.method = 8;
  entry.dataDescriptor = true;
  ts::ZipBuilder builder;
  builder.add(entry);
  std::string bytes = builder.bytes();
  size_t central = builder.centralHeaderOffset(0);
  uint32_t compressed = read32(bytes, central + 20);
  EXPECT_EQ(read16(bytes, central + 8), 0x0008);
  EXPECT_EQ(read32(bytes, builder.localHeaderOffset(0) + 18), 0u);
  size_t descriptor = 30 + entry.name.size() + compressed;
  EXPECT_EQ(read32(bytes, descriptor), 0x08074b50u);
  EXPECT_EQ(read32(bytes, descriptor + 4), ts::zip_codecs::crc32(entry.data));
  EXPECT_EQ(descriptor + 16, builder.centralDirectoryOffset());

  ts::TempDir dir;
  builder.write(dir / "dd.zip");
  EXPECT_EQ(ts::run(kUnzip, {"-p", (dir / "dd.zip").string()}).out, entry.data);
}

TEST(ZipBuilder, ManifestPackageHoldsOnlyTheStoredManifest) {
  ts::TempDir dir;
  ts::makeManifestPackage(dir / "m.zip", "{\"actions\": []}");
  ts::RunResult list = ts::run(kUnzip, {"-Z1", (dir / "m.zip").string()});
  EXPECT_EQ(list.out, "manifest.json\n");
  EXPECT_EQ(ts::run(kUnzip, {"-p", (dir / "m.zip").string(), "manifest.json"}).out, "{\"actions\": []}");
  std::string bytes = ts::readFile(dir / "m.zip");
  EXPECT_EQ(read16(bytes, 8), 0);  // method stored
}
