// Info-ZIP's unzip, an independent reader, accepts what the ZIP writer of
// tools/ writes in every method it can read, encrypted or not.
#include <gtest/gtest.h>

#include <random>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace ts = testing_support;

TEST(ZipBuilder, UnzipAcceptsEveryMethodEncryptionAndDescriptor) {
  ts::TempDir dir;
  std::string text, noise(70000, '\0');
  while (text.size() < 200000) text += "line " + std::to_string(text.size()) + " of compressible text\n";
  std::mt19937 generator(7);
  for (char& c : noise) c = static_cast<char>(generator() & 0xff);
  ts::ZipBuilder builder;
  builder.addDirectory("sub/").comment("an archive comment");
  std::vector<ts::ZipEntrySpec> entries;
  for (uint16_t method : {0, 8, 12}) {
    entries.push_back(ts::makeEntry("plain" + std::to_string(method), method == 12 ? noise : text, method));
    ts::ZipEntrySpec secret = ts::makeEntry("sub/secret" + std::to_string(method), text.substr(0, 50000), method);
    secret.password = "pa55word";
    secret.dataDescriptor = method != 0;
    secret.dosTime = 0x7a3c;  // the check byte then differs from the CRC's
    entries.push_back(secret);
  }
  for (const auto& entry : entries) builder.add(entry);
  const std::string zip = (dir / "a.zip").string(), unzip = ts::findProgram("unzip").string();
  builder.write(zip);
  ASSERT_FALSE(unzip.empty()) << "unzip is missing (scripts/setup installs it)";

  ts::RunResult test = ts::run(unzip, {"-P", "pa55word", "-t", zip});
  EXPECT_EQ(test.status, 0) << test.out << test.err;
  EXPECT_NE(test.out.find("No errors detected"), std::string::npos) << test.out;
  for (const auto& entry : entries)
    EXPECT_EQ(ts::run(unzip, {"-P", "pa55word", "-p", zip, entry.name}).out, entry.data) << entry.name;
}
