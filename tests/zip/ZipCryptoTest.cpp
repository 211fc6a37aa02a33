// Traditional PKWARE decryption of entries and the password check.
#include <gtest/gtest.h>

#include "zip/ZipTestSupport.h"

using namespace zip_test;

TEST(Encryption, ThePasswordDecidesWhetherAnEntryOpens) {
  const std::string data = MakeData(150000, 21);
  ASSERT_NE(testing_support::zip_codecs::crc32(data) >> 24, 0xA1u);
  ZipBuilder builder;
  for (uint16_t method : {0, 8, 12}) {
    ZipEntrySpec spec = Spec("m" + std::to_string(method), data, method);
    spec.password = "pässword";
    spec.dataDescriptor = method == 8;
    spec.dosTime = 0xA1B2;  // with a data descriptor the check byte is the time's top byte
    builder.add(spec);
  }
  ZipEntrySpec shortEntry = Spec("short", "x");
  shortEntry.password = "pässword";
  std::string bytes = builder.add(shortEntry).bytes();
  patch(bytes, builder.centralHeaderOffset(3) + 20, 11);  // fewer than 12 header bytes: the check fails
  auto archive = OpenBytes(bytes);
  for (const char* name : {"m0", "m8", "m12"}) {
    auto entry = archive->GetEntry(name);
    EXPECT_TRUE(entry->IsPasswordProtected());
    EXPECT_EQ(entry->GetDecompressionStream(), nullptr) << name;
    // About 1 in 256 wrong passwords pass the one-byte check; none may
    // yield the data, and a refusal must leave no chain open.
    int refused = 0;
    for (int i = 0; i < 64; ++i) {
      entry->SetPassword("wrong" + std::to_string(i));
      const std::string got = ReadAll(entry->GetDecompressionStream());
      refused += got == "<null>";
      EXPECT_FALSE(got == data) << name << i;
      entry->CloseDecompressionStream();
    }
    EXPECT_GT(refused, 56) << name;
    entry->SetPassword("pässword");
    EXPECT_TRUE(SameBytes(ReadAll(entry->GetDecompressionStream()), data)) << name;
  }
  archive->GetEntry("short")->SetPassword("pässword");
  EXPECT_EQ(archive->GetEntry("short")->GetDecompressionStream(), nullptr);
}
