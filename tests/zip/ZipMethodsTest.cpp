// The compression method resolver's table: four known methods, each call a
// new object with its own decoder.
#include <gtest/gtest.h>

#include "zip/methods/ZipMethodResolver.h"

TEST(MethodResolver, KnowsFourMethodsAndBuildsNewObjects) {
  const struct { uint16_t method, version; } cases[] = {{0, 10}, {8, 20}, {12, 46}, {14, 63}};
  for (const auto& c : cases) {
    auto first = ZipMethodResolver::GetZipMethodInstance(c.method);
    auto second = ZipMethodResolver::GetZipMethodInstance(c.method);
    ASSERT_NE(first, nullptr) << c.method;
    EXPECT_EQ(first->GetZipMethodDescriptor().CompressionMethod, c.method);
    EXPECT_EQ(first->GetZipMethodDescriptor().VersionNeededToExtract, c.version);
    EXPECT_NE(first->GetDecoder(), second->GetDecoder());
    EXPECT_EQ(first->GetDecoderProperties().BufferCapacity, 32768u);
  }
  for (uint16_t unknown : {1, 6, 9, 13, 93, 95, 98, 99, 0xFFFF}) {
    EXPECT_EQ(ZipMethodResolver::GetZipMethodInstance(unknown), nullptr) << unknown;
  }
}
