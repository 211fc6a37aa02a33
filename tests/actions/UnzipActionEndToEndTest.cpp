// The unzip action through the real updater: whole standard output and exit
// status for each of its lines, its parse failure and the failures that end
// the run.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace fs = std::filesystem;
using testing_support::header;
using testing_support::readFile;
using testing_support::RunOptions;
using testing_support::runUpdater;
using testing_support::TempDir;
using testing_support::ZipBuilder;
using testing_support::ZipEntrySpec;

namespace {

// A package whose manifest holds one action set made of `actions`, plus the
// entries of `payload`.
void writePackage(const fs::path& file, const std::string& actions, ZipBuilder payload = ZipBuilder()) {
  payload.add("manifest.json", R"({"actions":[[)" + actions + "]]}");
  payload.write(file);
}

std::string unzipAction(const std::string& source, const std::string& destination, const std::string& lists) {
  return R"({"type":"unzip","description":"Unpack","source":")" + source + R"(","destination":")" + destination +
         R"(")" + lists + "}";
}

const char* const kDelay = R"({"type":"delay","description":"Then","value":0})";
const char* const kDelayLines = "\nPerform action: Then\nDo delay for 0ms\n";

class UnzipEndToEnd : public ::testing::Test {
 protected:
  fs::path package() const { return dir / "update.zip"; }
  fs::path out() const { return dir / "out"; }
  std::string target(const std::string& name) const { return "\"" + (out() / name).string() + "\""; }

  TempDir dir;
};

TEST_F(UnzipEndToEnd, ExampleArchiveWithIncludeListNamingAnotherFile) {
  ZipBuilder().addDirectory("bin/").add("bin/tool", "tool").write(dir / "app.zip");
  writePackage(package(),
               unzipAction((dir / "app.zip").string(), out().string(), R"(,"include":["bin/other"],"exclude":[])"));
  auto result = runUpdater({package().string()});
  EXPECT_EQ(result.out, header(package().string()) + "\nPerform action: Unpack\nUnzip archive " +
                            (dir / "app.zip").string() + " to " + out().string() + "\nOpen zip file " +
                            (dir / "app.zip").string() + "\nEntries count 2\n" +
                            "Skip unzip file (not in include list)bin/tool\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(fs::is_directory(out() / "bin"));
  EXPECT_TRUE(fs::is_empty(out() / "bin"));
}

TEST_F(UnzipEndToEnd, PackageUnpacksItselfWithEveryKindOfLine) {
  ZipEntrySpec tool;
  tool.name = "bin/tool";
  tool.data = "#!/bin/sh\necho tool\n";
  tool.method = 8;
  tool.externalAttributes = 0100755u << 16;
  ZipBuilder payload;
  payload.addDirectory("bin/").add(tool).add("doc/notes.txt", "notes", 12).add("../outside.txt", "x");
  writePackage(package(), unzipAction("@update.zip", out().string(), R"(,"exclude":"manifest.json")") + "," + kDelay,
               payload);
  auto result = runUpdater({package().string()});
  EXPECT_EQ(result.out, header(package().string()) + "Field include does not found\n" +
                            "\nPerform action: Unpack\nUnzip archive @update.zip to " + out().string() +
                            "\nOpen zip file " + package().string() + "\nEntries count 5\n" +
                            "Unzip file: bin/tool, size:20, to: " + target("bin/tool") + "\n" +
                            "Unzip file: doc/notes.txt, size:5, to: " + target("doc/notes.txt") + "\n" +
                            "Skip unzip file (outside destination)../outside.txt\n" +
                            "Skip unzip file (in exclude list)manifest.json\n" + kDelayLines);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(out() / "bin/tool"), "#!/bin/sh\necho tool\n");
  EXPECT_EQ(fs::status(out() / "bin/tool").permissions(), fs::perms(0755));
  EXPECT_EQ(readFile(out() / "doc/notes.txt"), "notes");
  EXPECT_FALSE(fs::exists(dir / "outside.txt"));
  EXPECT_FALSE(fs::exists(out() / "manifest.json"));
}

TEST_F(UnzipEndToEnd, ParseFailureContinuesOnTheSameLineAndIsNotPerformed) {
  writePackage(package(), R"({"type":"unzip","source":"@update.zip","include":[],"exclude":[]},)" +
                              std::string(R"({"type":"unzip","source":1,"destination":"x"},)") + kDelay);
  auto result = runUpdater({package().string()});
  EXPECT_EQ(result.out, header(package().string()) + "Fail to parse Unzip Action" +
                            "Field include does not found\nField exclude does not found\n" +
                            "Fail to parse Unzip Action" + kDelayLines);
  EXPECT_EQ(result.status, 0);
}

TEST_F(UnzipEndToEnd, DestinationIsUsedAsWrittenEvenWhenItLooksLikeAnAlias) {
  ZipBuilder payload;
  payload.add("a.txt", "a");
  writePackage(package(), unzipAction("@update.zip", "@update.zip", R"(,"include":"a.txt","exclude":[])"), payload);
  RunOptions options;
  options.cwd = dir.mkdir("work");
  auto result = runUpdater({package().string()}, options);
  EXPECT_EQ(result.out, header(package().string()) +
                            "\nPerform action: Unpack\nUnzip archive @update.zip to @update.zip\nOpen zip file " +
                            package().string() + "\nEntries count 2\n" +
                            "Unzip file: a.txt, size:1, to: \"@update.zip/a.txt\"\n" +
                            "Skip unzip file (not in include list)manifest.json\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(dir / "work/@update.zip/a.txt"), "a");
}

TEST_F(UnzipEndToEnd, FailuresEndTheRunWithStatusTwoBeforeLaterActions) {
  struct Case {
    std::string source;
    std::string failure;
  };
  dir.mkdir("a-directory.zip");
  ZipBuilder corrupt;
  corrupt.add("app", std::string(40000, 'z'), 8);
  std::string bytes = corrupt.bytes();
  bytes[corrupt.centralHeaderOffset(0) + 16] ^= 1;  // CRC-32
  std::ofstream(dir / "corrupt.zip", std::ios::binary) << bytes;
  std::ofstream(dir / "text.zip", std::ios::binary) << "not an archive";
  const Case cases[] = {
      {"@unbound.zip", "Alias does not found"},
      {(dir / "a-directory.zip").string(), "cannot open zip file"},
      {(dir / "text.zip").string(), "Not a ZIP archive: " + (dir / "text.zip").string()},
      {(dir / "corrupt.zip").string(), "Archive entry app is corrupt: CRC-32 mismatch"},
  };
  dir.write("out/app", "working version");
  for (const Case& c : cases) {
    writePackage(package(), unzipAction(c.source, out().string(), R"(,"include":[],"exclude":[])") + "," + kDelay);
    auto result = runUpdater({package().string()});
    std::string opened = c.source[0] == '@' ? "" : "Open zip file " + c.source + "\n";
    std::string listed = c.failure.find("corrupt") == std::string::npos
                             ? ""
                             : "Entries count 1\nUnzip file: app, size:40000, to: " + target("app") + "\n";
    EXPECT_EQ(result.out, header(package().string()) + "\nPerform action: Unpack\nUnzip archive " + c.source + " to " +
                              out().string() + "\n" + opened + listed + "Update failed: " + c.failure + "\n");
    EXPECT_EQ(result.status, 2) << c.source;
    EXPECT_EQ(readFile(out() / "app"), "working version");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(out()), fs::directory_iterator()), 1);
}

TEST_F(UnzipEndToEnd, WriteFailureKeepsTheOldFileAndLeavesNoTemporary) {
  dir.write("out/big.bin", "old");
  ZipBuilder payload;
  payload.add("big.bin", std::string(1 << 20, 'b'), 8);
  writePackage(package(), unzipAction("@update.zip", out().string(), R"(,"include":"big.bin","exclude":[])"), payload);
  RunOptions options;
  options.fileSizeLimit = 64 * 1024;
  auto result = runUpdater({package().string()}, options);
  const std::string expected = header(package().string()) + "\nPerform action: Unpack\nUnzip archive @update.zip to " +
                               out().string() + "\nOpen zip file " + package().string() + "\nEntries count 2\n" +
                               "Unzip file: big.bin, size:1048576, to: " + target("big.bin") + "\n";
  ASSERT_EQ(result.out.substr(0, expected.size()), expected);
  const std::string failure = result.out.substr(expected.size());
  EXPECT_TRUE(std::regex_match(failure, std::regex("Update failed: filesystem error: cannot write file: File too "
                                                   "large \\[" +
                                                   out().string() + "/\\.updater-[0-9]+-[0-9]+\\]\n")))
      << failure;
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(readFile(out() / "big.bin"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(out()), fs::directory_iterator()), 1);
}

}  // namespace
