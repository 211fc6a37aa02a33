// Compression methods and decoders on their own: the resolver's table, and
// the decoders' behaviour on good, empty and garbage input.
#include <gtest/gtest.h>

#include <sstream>

#include "support/ZipBuilder.h"
#include "zip/ZipTestSupport.h"
#include "zip/methods/Bzip2Method.h"
#include "zip/methods/DeflateMethod.h"
#include "zip/methods/LzmaMethod.h"
#include "zip/methods/StoreMethod.h"
#include "zip/methods/ZipMethodResolver.h"
#include "zip/streams/compression_decoder_stream.h"
#include "zip/streams/substream.h"

namespace codecs = testing_support::zip_codecs;
using zip_test::MakeData;
using zip_test::ReadAll;
using zip_test::SameBytes;

namespace {

// Decodes `encoded` with a new instance of `method` through a decoder stream.
std::string Decode(uint16_t method, const std::string& encoded) {
  auto instance = ZipMethodResolver::GetZipMethodInstance(method);
  if (instance == nullptr) return "<no method>";
  std::istringstream source(encoded);
  compression_decoder_stream stream(instance->GetDecoder(), instance->GetDecoderProperties(), source);
  return ReadAll(&stream);
}

}  // namespace

TEST(MethodResolver, KnowsFourMethodsAndBuildsNewObjects) {
  struct Case {
    uint16_t method, version;
  };
  for (const Case& c : {Case{0, 10}, Case{8, 20}, Case{12, 46}, Case{14, 63}}) {
    auto first = ZipMethodResolver::GetZipMethodInstance(c.method);
    auto second = ZipMethodResolver::GetZipMethodInstance(c.method);
    ASSERT_NE(first, nullptr) << c.method;
    EXPECT_EQ(first->GetZipMethodDescriptor().CompressionMethod, c.method);
    EXPECT_EQ(first->GetZipMethodDescriptor().VersionNeededToExtract, c.version);
    EXPECT_NE(first, second);
    EXPECT_NE(first->GetDecoder(), second->GetDecoder());
    EXPECT_EQ(first->GetDecoderProperties().BufferCapacity, 32768u);
  }
  for (uint16_t unknown : {1, 6, 9, 13, 93, 95, 98, 99, 0xFFFF}) {
    EXPECT_EQ(ZipMethodResolver::GetZipMethodInstance(unknown), nullptr) << unknown;
  }
  EXPECT_EQ(&StoreMethod::GetZipMethodDescriptorStatic(), &StoreMethod().GetZipMethodDescriptor());
}

TEST(Decoders, CountBytesReadAndWritten) {
  const std::string data = MakeData(100000, 32);
  const std::string encoded = codecs::deflateRaw(data);
  deflate_decoder decoder;
  std::istringstream source(encoded);
  decoder.init(source);
  ASSERT_TRUE(decoder.is_init());
  size_t total = 0;
  for (size_t step; (step = decoder.decode_next()) != 0;) {
    EXPECT_LE(step, 32768u);
    EXPECT_EQ(decoder.get_buffer_end() - decoder.get_buffer_begin(), static_cast<std::ptrdiff_t>(step));
    total += step;
  }
  EXPECT_EQ(total, data.size());
  EXPECT_EQ(decoder.get_bytes_written(), data.size());
  EXPECT_EQ(decoder.get_bytes_read(), encoded.size());
  EXPECT_EQ(decoder.decode_next(), 0u);  // stays at the end
}

TEST(Decoders, GarbageAndEmptyInputEndWithoutOutputOrHang) {
  const std::string garbage = MakeData(100000, 33);
  for (uint16_t method : {8, 12, 14}) {
    EXPECT_EQ(Decode(method, ""), "") << method;
    const std::string got = Decode(method, garbage);
    EXPECT_FALSE(got == garbage) << method;
  }
  // Bytes that are not bzip2 at all produce nothing.
  EXPECT_EQ(Decode(12, garbage), "");
}

TEST(Decoders, LzmaWithoutEndMarkerNeedsTheSize) {
  const std::string data = MakeData(80000, 34);
  const std::string encoded = codecs::lzma(data, false);
  auto method = ZipMethodResolver::GetZipMethodInstance(14);
  auto& props = dynamic_cast<lzma_decoder_properties&>(method->GetDecoderProperties());
  props.UncompressedSize = data.size();
  std::istringstream source(encoded + "trailing bytes after the data");
  compression_decoder_stream stream(method->GetDecoder(), props, source);
  EXPECT_TRUE(SameBytes(ReadAll(&stream), data));
}

TEST(Substream, CoversExactlyItsWindow) {
  const std::string text = MakeData(100000, 35);
  std::istringstream source(text);
  isubstream window(source, 1000, 70000);
  EXPECT_EQ(ReadAll(&window), text.substr(1000, 70000));
  isubstream beyond(source, 99990, 50);
  EXPECT_EQ(ReadAll(&beyond), text.substr(99990));
  isubstream empty(source, 10, 0);
  EXPECT_EQ(empty.get(), std::char_traits<char>::eof());
}

TEST(Substream, ByteAndBlockReadsMix) {
  const std::string text = MakeData(80000, 36);
  std::istringstream source(text);
  isubstream window(source, 5, 79000);
  std::string got;
  got += static_cast<char>(window.get());
  char block[40000];
  window.read(block, sizeof(block));
  got.append(block, static_cast<size_t>(window.gcount()));
  got += static_cast<char>(window.get());
  got += ReadAll(&window);
  EXPECT_EQ(got, text.substr(5, 79000));
}
