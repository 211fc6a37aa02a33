// Checks the test-side archive builder against Info-ZIP's unzip (as an
// independent reader) and against liblzma's own decoder.
#include <gtest/gtest.h>
#include <lzma.h>

#include <cstring>
#include <optional>
#include <random>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace ts = testing_support;

namespace {

const char* kUnzip = "/usr/bin/unzip";

std::string textBytes(size_t size) {
  std::string out;
  while (out.size() < size) out += "line " + std::to_string(out.size()) + " of some compressible text\n";
  out.resize(size);
  return out;
}

uint32_t field(const std::string& bytes, size_t at, int width = 4) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// Decodes the raw LZMA1 stream after the ZIP framing; `knownSize` set means
// "no end marker allowed". True when the stream ended where the input did.
bool decodeLzma(const std::string& zipLzma, std::optional<uint64_t> knownSize, std::string& out) {
  lzma_filter decodeFilter = {LZMA_FILTER_LZMA1, nullptr};
  if (lzma_properties_decode(&decodeFilter, nullptr, reinterpret_cast<const uint8_t*>(zipLzma.data()) + 4, 5) !=
      LZMA_OK)
    return false;
  lzma_options_lzma options;
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
  out.assign(1 << 20, '\0');
  stream.next_in = reinterpret_cast<const uint8_t*>(zipLzma.data()) + 9;
  stream.avail_in = zipLzma.size() - 9;
  stream.next_out = reinterpret_cast<uint8_t*>(out.data());
  stream.avail_out = out.size();
  bool whole = lzma_code(&stream, LZMA_FINISH) == LZMA_STREAM_END && stream.avail_in == 0;
  out.resize(stream.total_out);
  lzma_end(&stream);
  return whole;
}

}  // namespace

TEST(ZipBuilder, UnzipReadsEveryMethodEncryptionAndDescriptor) {
  ts::TempDir dir;
  std::string noise(70000, '\0');
  std::mt19937 generator(7);
  for (char& c : noise) c = static_cast<char>(generator() & 0xff);
  std::vector<ts::ZipEntrySpec> entries = {ts::makeEntry("stored.txt", "hello\n"),
                                           ts::makeEntry("deflated.txt", textBytes(200000), 8),
                                           ts::makeEntry("bzipped.bin", noise, 12), ts::makeEntry("empty.txt", "", 8),
                                           ts::makeEntry("sub/inner.txt", "inner", 12)};
  for (bool descriptor : {false, true}) {
    for (uint16_t method : {0, 8, 12}) {
      ts::ZipEntrySpec entry =
          ts::makeEntry("secret" + std::to_string(method) + (descriptor ? "d" : ""), textBytes(50000), method);
      entry.password = "pa55word";
      entry.dataDescriptor = descriptor;
      entry.dosTime = 0x7a3c;  // the check byte then differs from the CRC's
      entries.push_back(entry);
    }
  }
  ts::ZipEntrySpec plainDescriptor = ts::makeEntry("descriptor.txt", textBytes(3000), 8);
  plainDescriptor.dataDescriptor = true;
  entries.push_back(plainDescriptor);
  ts::ZipBuilder builder;
  builder.addDirectory("sub").comment("an archive comment");
  for (const auto& entry : entries) builder.add(entry);
  const std::string zip = (dir / "a.zip").string();
  builder.write(zip);

  ts::RunResult test = ts::run(kUnzip, {"-P", "pa55word", "-t", zip});
  EXPECT_EQ(test.status, 0) << test.out << test.err;
  EXPECT_NE(test.out.find("No errors detected"), std::string::npos) << test.out;
  EXPECT_NE(ts::run(kUnzip, {"-z", zip}).out.find("an archive comment"), std::string::npos);
  for (const auto& entry : entries)
    EXPECT_EQ(ts::run(kUnzip, {"-P", "pa55word", "-p", zip, entry.name}).out, entry.data) << entry.name;
  EXPECT_NE(ts::run(kUnzip, {"-P", "wrong", "-p", zip, "secret8"}).out, textBytes(50000));
}

TEST(ZipBuilder, LzmaWithAndWithoutEndMarker) {
  std::string text = textBytes(100000), out;
  std::string withMarker = ts::zip_codecs::lzma(text, true), withoutMarker = ts::zip_codecs::lzma(text, false);
  EXPECT_EQ(field(withMarker, 2, 2), 5u);
  EXPECT_EQ(field(withoutMarker, 2, 2), 5u);
  EXPECT_TRUE(decodeLzma(withMarker, std::nullopt, out));
  EXPECT_EQ(out, text);
  // Without a marker the stream decodes whole only when the size is known...
  EXPECT_TRUE(decodeLzma(withoutMarker, text.size(), out));
  EXPECT_EQ(out, text);
  // ...and a decoder that insists on a marker never sees one.
  EXPECT_FALSE(decodeLzma(withoutMarker, std::nullopt, out));
}

TEST(ZipBuilder, HeadersCarryMethodFlagsAttributesAndOffsets) {
  ts::ZipEntrySpec lzmaEntry = ts::makeEntry("x.lzma", "abcabcabc", 14);
  lzmaEntry.versionNeeded = 63;
  ts::ZipEntrySpec odd = ts::makeEntry("odd", "raw bytes", 99);
  odd.externalAttributes = 0x20;
  ts::ZipEntrySpec described = ts::makeEntry("dd.txt", textBytes(3000), 8);
  described.dataDescriptor = true;
  ts::ZipBuilder builder;
  builder.add(lzmaEntry).add(odd).addDirectory("d/").add("f", "12345").add(described);
  std::string bytes = builder.bytes();

  size_t c0 = builder.centralHeaderOffset(0);
  EXPECT_EQ(field(bytes, c0), 0x02014b50u);
  EXPECT_EQ(field(bytes, c0 + 6, 2), 63u);
  EXPECT_EQ(field(bytes, c0 + 8, 2), 0x0002u);  // end marker flag
  EXPECT_EQ(field(bytes, c0 + 10, 2), 14u);
  EXPECT_EQ(field(bytes, c0 + 16), ts::zip_codecs::crc32("abcabcabc"));

  size_t c1 = builder.centralHeaderOffset(1), l1 = builder.localHeaderOffset(1);
  EXPECT_EQ(field(bytes, c1 + 10, 2), 99u);
  EXPECT_EQ(field(bytes, c1 + 20), 9u);
  EXPECT_EQ(field(bytes, c1 + 38), 0x20u);
  EXPECT_EQ(field(bytes, c1 + 42), l1);
  EXPECT_EQ(bytes.substr(l1 + 30 + 3, 9), "raw bytes");
  EXPECT_EQ(field(bytes, builder.centralHeaderOffset(2) + 38), (040755u << 16) | 0x10u);
  EXPECT_EQ(field(bytes, builder.centralHeaderOffset(3) + 38), 0100644u << 16);

  // A data descriptor: flag bit 3, zero CRC in the local header, the
  // descriptor right after the data.
  size_t c4 = builder.centralHeaderOffset(4), l4 = builder.localHeaderOffset(4);
  EXPECT_EQ(field(bytes, c4 + 8, 2), 0x0008u);
  EXPECT_EQ(field(bytes, l4 + 14), 0u);
  size_t descriptor = l4 + 30 + described.name.size() + field(bytes, c4 + 20);
  EXPECT_EQ(field(bytes, descriptor), 0x08074b50u);
  EXPECT_EQ(field(bytes, descriptor + 4), ts::zip_codecs::crc32(described.data));
  EXPECT_EQ(descriptor + 16, builder.centralDirectoryOffset());

  size_t end = builder.endRecordOffset();
  EXPECT_EQ(field(bytes, end), 0x06054b50u);
  EXPECT_EQ(field(bytes, end + 10, 2), 5u);
  EXPECT_EQ(field(bytes, end + 16), builder.centralDirectoryOffset());
  EXPECT_EQ(end + 22, bytes.size());
}
