// Traditional PKWARE decryption: passwords on entries, the header check with
// its two check bytes, and the crypto stream on its own.
#include <gtest/gtest.h>

#include <sstream>

#include "zip/ZipTestSupport.h"
#include "zip/streams/zip_cryptostream.h"

using namespace zip_test;
using testing_support::zip_codecs::crc32;

namespace {

ZipEntrySpec Encrypted(const std::string& name, const std::string& data, uint16_t method, const std::string& password) {
  ZipEntrySpec spec = Spec(name, data, method);
  spec.password = password;
  return spec;
}

}  // namespace

TEST(Encryption, NoPasswordGivesNullThenTheRightOneReadsEveryKindOfEntry) {
  const std::string data = MakeData(150000, 21);
  ZipEntrySpec descriptor = Encrypted("descriptor", data, 8, "pässword");
  descriptor.dataDescriptor = true;
  descriptor.dosTime = 0xA1B2;  // the check byte is then 0xA1, not the CRC's top byte
  ASSERT_NE(crc32(data) >> 24, 0xA1u);
  ZipBuilder builder;
  builder.add(Encrypted("stored", data, 0, "pässword")).add(Encrypted("deflate", data, 8, "pässword"));
  builder.add(Encrypted("bzip2", data, 12, "pässword")).add(Encrypted("raw99", "opaque", 99, "pässword"));
  std::string bytes = builder.add(descriptor).add(Encrypted("short", "x", 0, "pässword")).bytes();
  Put32(bytes, builder.centralHeaderOffset(5) + 20, 11);  // fewer than 12 header bytes: the check fails
  auto archive = OpenBytes(bytes);
  // Metadata stays readable without a password.
  EXPECT_EQ(archive->GetEntry("stored")->GetSize(), data.size());
  EXPECT_EQ(archive->GetEntry("stored")->GetCompressedSize(), data.size() + 12);
  EXPECT_EQ(archive->GetEntry("stored")->GetLastByteOfEncryptionHeader(), crc32(data) >> 24);
  EXPECT_EQ(archive->GetEntry("descriptor")->GetLastByteOfEncryptionHeader(), 0xA1);
  for (const char* name : {"stored", "deflate", "bzip2", "raw99", "descriptor"}) {
    auto entry = archive->GetEntry(name);
    EXPECT_TRUE(entry->IsPasswordProtected());
    EXPECT_EQ(entry->GetDecompressionStream(), nullptr) << name;
    EXPECT_FALSE(entry->IsDecompressionStreamOpened());
    entry->SetPassword("pässword");
    EXPECT_EQ(entry->GetPassword(), "pässword");
    EXPECT_TRUE(SameBytes(ReadAll(entry->GetDecompressionStream()), std::string(name) == "raw99" ? "opaque" : data))
        << name;
  }
  archive->GetEntry("short")->SetPassword("pässword");
  EXPECT_EQ(archive->GetEntry("short")->GetDecompressionStream(), nullptr);
}

TEST(Encryption, WrongPasswordIsRefusedThenTheRightOneWorks) {
  const std::string data = MakeData(40000, 22);
  auto archive = OpenBytes(ZipBuilder().add(Encrypted("e", data, 8, "correct horse")).bytes());
  auto entry = archive->GetEntry("e");
  // About 1 in 256 wrong passwords pass the one-byte check; a refusal must
  // leave no chain open.
  int passed = 0;
  for (int i = 0; i < 512; ++i) {
    entry->SetPassword("wrong" + std::to_string(i));
    std::istream* stream = entry->GetDecompressionStream();
    if (stream != nullptr) {
      ++passed;
      EXPECT_FALSE(ReadAll(stream) == data);
      entry->CloseDecompressionStream();
    }
  }
  EXPECT_LT(passed, 12);
  entry->SetPassword("correct horse");
  EXPECT_TRUE(SameBytes(ReadAll(entry->GetDecompressionStream()), data));
}

TEST(Encryption, EmptyEntryFlagFollowsThePasswordOnceTheLocalHeaderIsKnown) {
  auto archive = OpenBytes(ZipBuilder().add(Encrypted("empty", "", 0, "pw")).bytes());
  auto entry = archive->GetEntry("empty");
  entry->SetPassword("");  // local header not fetched yet: flag unchanged
  EXPECT_TRUE(entry->IsPasswordProtected());
  EXPECT_EQ(entry->GetDecompressionStream(), nullptr);  // fetches the local header
  entry->SetPassword("");
  EXPECT_FALSE(entry->IsPasswordProtected());
  // The 12 header bytes are now read as data: the flag says unencrypted.
  EXPECT_EQ(ReadAll(entry->GetDecompressionStream()).size(), 12u);
  entry->CloseDecompressionStream();
  entry->SetPassword("pw");
  EXPECT_TRUE(entry->IsPasswordProtected());
  EXPECT_EQ(ReadAll(entry->GetDecompressionStream()), "");
}

TEST(CryptoStream, ChecksTheLowByteOfTheFinalByteBeforeDecrypting) {
  const std::string plain = MakeData(100000, 23);
  const std::string cipher = testing_support::zip_codecs::encrypt(plain, "secret", 0xFF);
  // -1: never set, which must not match a header ending in 0xFF.
  for (int finalByte : {0xFF, 0x3FF, 0xFE, -1}) {
    std::istringstream source(cipher);
    zip_cryptostream stream(source, "secret");
    EXPECT_EQ(stream.get(), std::char_traits<char>::eof());  // header not read yet
    stream.clear();
    if (finalByte >= 0) stream.set_final_byte(finalByte);
    const bool passes = finalByte >= 0 && (finalByte & 0xFF) == 0xFF;
    EXPECT_EQ(stream.read_encryption_header(), passes) << finalByte;
    if (passes) {
      EXPECT_TRUE(SameBytes(ReadAll(&stream), plain));
    }
  }
}
