// Traditional PKWARE decryption: passwords on entries, the header check with
// its two check bytes, and the crypto stream on its own.
#include <gtest/gtest.h>

#include <sstream>

#include "support/ZipBuilder.h"
#include "zip/ZipArchive.h"
#include "zip/ZipTestSupport.h"
#include "zip/streams/zip_cryptostream.h"

using testing_support::ZipBuilder;
using testing_support::ZipEntrySpec;
using testing_support::zip_codecs::crc32;
using testing_support::zip_codecs::encrypt;
using zip_test::MakeData;
using zip_test::OpenBytes;
using zip_test::ReadAll;
using zip_test::SameBytes;

namespace {

ZipEntrySpec Encrypted(const std::string& name, const std::string& data, uint16_t method, const std::string& password) {
  ZipEntrySpec spec;
  spec.name = name;
  spec.data = data;
  spec.method = method;
  spec.password = password;
  return spec;
}

}  // namespace

TEST(Encryption, NoPasswordGivesNullButMetadataStays) {
  auto archive = OpenBytes(ZipBuilder().add(Encrypted("secret.txt", "top secret", 8, "pw")).bytes());
  auto entry = archive->GetEntry("secret.txt");
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(entry->IsPasswordProtected());
  EXPECT_EQ(entry->GetDecompressionStream(), nullptr);
  EXPECT_FALSE(entry->IsDecompressionStreamOpened());
  EXPECT_EQ(entry->GetSize(), 10u);
  EXPECT_EQ(entry->GetCrc32(), crc32("top secret"));
}

TEST(Encryption, RightPasswordReadsStoredAndCompressedEntries) {
  const std::string data = MakeData(150000, 21);
  ZipBuilder builder;
  builder.add(Encrypted("stored", data, 0, "pässword"))
      .add(Encrypted("deflate", data, 8, "pässword"))
      .add(Encrypted("bzip2", data, 12, "pässword"))
      .add(Encrypted("raw99", "opaque", 99, "pässword"));
  auto archive = OpenBytes(builder.bytes());
  for (const char* name : {"stored", "deflate", "bzip2", "raw99"}) {
    auto entry = archive->GetEntry(name);
    entry->SetPassword("pässword");
    EXPECT_EQ(entry->GetPassword(), "pässword");
    EXPECT_TRUE(SameBytes(ReadAll(entry->GetDecompressionStream()), std::string(name) == "raw99" ? "opaque" : data))
        << name;
  }
  EXPECT_EQ(archive->GetEntry("stored")->GetCompressedSize(), data.size() + 12);
}

TEST(Encryption, DataDescriptorEntriesCheckTheTimeByte) {
  ZipEntrySpec spec = Encrypted("dd", "descriptor data", 8, "key");
  spec.dataDescriptor = true;
  spec.dosTime = 0xA1B2;  // high byte 0xA1, unlike the CRC's
  ASSERT_NE(crc32(spec.data) >> 24, 0xA1u);
  auto archive = OpenBytes(ZipBuilder().add(spec).bytes());
  auto entry = archive->GetEntry("dd");
  EXPECT_EQ(entry->GetLastByteOfEncryptionHeader(), 0xA1);
  entry->SetPassword("key");
  EXPECT_EQ(ReadAll(entry->GetDecompressionStream()), "descriptor data");

  ZipEntrySpec plain = Encrypted("crc", "crc data", 0, "key");
  auto other = OpenBytes(ZipBuilder().add(plain).bytes())->GetEntry("crc");
  EXPECT_EQ(other->GetLastByteOfEncryptionHeader(), crc32("crc data") >> 24);
}

TEST(Encryption, WrongPasswordIsRefusedThenTheRightOneWorks) {
  const std::string data = MakeData(40000, 22);
  auto archive = OpenBytes(ZipBuilder().add(Encrypted("e", data, 8, "correct horse")).bytes());
  auto entry = archive->GetEntry("e");
  // Which wrong passwords pass the one-byte check depends on the data; count
  // them over many tries: about 1 in 256 may pass, and none may open a chain
  // that stays open after a refusal.
  int passed = 0;
  for (int i = 0; i < 512; ++i) {
    entry->SetPassword("wrong" + std::to_string(i));
    std::istream* stream = entry->GetDecompressionStream();
    if (stream != nullptr) {
      ++passed;
      EXPECT_FALSE(ReadAll(stream) == data);
      entry->CloseDecompressionStream();
    } else {
      EXPECT_FALSE(entry->IsDecompressionStreamOpened());
    }
  }
  EXPECT_LT(passed, 12);
  entry->SetPassword("correct horse");
  EXPECT_TRUE(SameBytes(ReadAll(entry->GetDecompressionStream()), data));
}

TEST(Encryption, HeaderShorterThan12BytesFailsTheCheck) {
  ZipBuilder builder;
  builder.add(Encrypted("e", "x", 0, "pw"));
  std::string bytes = builder.bytes();
  zip_test::Put32(bytes, builder.centralHeaderOffset(0) + 20, 11);
  auto archive = OpenBytes(bytes);
  auto entry = archive->GetEntry("e");
  entry->SetPassword("pw");
  EXPECT_EQ(entry->GetDecompressionStream(), nullptr);
}

TEST(Encryption, EmptyEntryFlagFollowsThePasswordOnceTheLocalHeaderIsKnown) {
  auto archive = OpenBytes(ZipBuilder().add(Encrypted("empty", "", 0, "pw")).bytes());
  auto entry = archive->GetEntry("empty");
  ASSERT_TRUE(entry->IsPasswordProtected());
  entry->SetPassword("");  // local header not fetched yet: flag unchanged
  EXPECT_TRUE(entry->IsPasswordProtected());
  EXPECT_EQ(entry->GetDecompressionStream(), nullptr);  // fetches the local header
  entry->SetPassword("");
  EXPECT_FALSE(entry->IsPasswordProtected());
  std::istream* stream = entry->GetDecompressionStream();
  ASSERT_NE(stream, nullptr);
  // The 12 header bytes are now read as data: the flag says unencrypted.
  EXPECT_EQ(ReadAll(stream).size(), 12u);
  entry->CloseDecompressionStream();
  entry->SetPassword("pw");
  EXPECT_TRUE(entry->IsPasswordProtected());
  EXPECT_EQ(ReadAll(entry->GetDecompressionStream()), "");
}

TEST(CryptoStream, DecryptsAfterTheHeaderCheckOnly) {
  const std::string plain = MakeData(100000, 23);
  const std::string cipher = encrypt(plain, "secret", 0x42);
  std::istringstream source(cipher);
  zip_cryptostream stream(source, "secret");
  EXPECT_EQ(stream.get(), std::char_traits<char>::eof());  // header not read yet
  stream.clear();
  stream.set_final_byte(0x42);
  ASSERT_TRUE(stream.read_encryption_header());
  EXPECT_TRUE(SameBytes(ReadAll(&stream), plain));
}

TEST(CryptoStream, CheckComparesOnlyTheLowByteOfTheFinalByte) {
  const std::string cipher = encrypt("abc", "k", 0x7F);
  {
    std::istringstream source(cipher);
    zip_cryptostream stream(source, "k");
    stream.set_final_byte(0x37F);
    EXPECT_TRUE(stream.read_encryption_header());
    EXPECT_EQ(ReadAll(&stream), "abc");
  }
  {
    std::istringstream source(cipher);
    zip_cryptostream stream(source, "k");
    stream.set_final_byte(0x7E);
    EXPECT_FALSE(stream.read_encryption_header());
  }
  {
    std::istringstream source(cipher);
    zip_cryptostream stream(source, "k");  // _finalByte never set
    EXPECT_FALSE(stream.read_encryption_header());
  }
}
