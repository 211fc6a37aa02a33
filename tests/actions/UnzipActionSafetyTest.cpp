// Hostile and damaged archives: nothing may be written outside the
// destination, no half-written file may replace a good one, and damaged
// data must end the run instead of passing for success.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "actions/ActionTestHelpers.h"
#include "actions/UnzipAction.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace fs = std::filesystem;
using action_testing::CapturedOutput;
using action_testing::parseJson;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::ZipBuilder;
using testing_support::ZipEntrySpec;

namespace {

struct Outcome {
  std::string out;
  std::string error;  // what() of the exception that ended perform(), empty when none
};

class UnzipActionSafety : public ::testing::Test {
 protected:
  fs::path package() const { return dir / "package.zip"; }
  fs::path out() const { return dir / "out"; }

  Outcome unzip(const std::string& include = "[]") const {
    rapidjson::Document object =
        parseJson(R"({"type":"unzip","source":")" + package().string() + R"(","destination":")" + out().string() +
                  R"(","include":)" + include + R"(,"exclude":[]})");
    Outcome outcome;
    CapturedOutput output;
    auto action = std::make_shared<UnzipAction>(object);
    try {
      action->perform();
    } catch (const std::exception& error) {
      outcome.error = error.what();
    }
    outcome.out = output.text();
    return outcome;
  }

  std::string opening(size_t entries) const {
    return "Unzip archive " + package().string() + " to " + out().string() + "\nOpen zip file " + package().string() +
           "\nEntries count " + std::to_string(entries) + "\n";
  }
  std::string unzipLine(const std::string& name, size_t size) const {
    return "Unzip file: " + name + ", size:" + std::to_string(size) + ", to: \"" + (out() / name).string() + "\"\n";
  }

  // Every name in the test directory, relative and sorted, links marked.
  std::vector<std::string> everything() const {
    std::vector<std::string> names;
    for (auto it = fs::recursive_directory_iterator(dir.path()); it != fs::recursive_directory_iterator(); ++it) {
      std::string name = it->path().lexically_relative(dir.path()).string();
      if (it->is_symlink()) name += " -> " + fs::read_symlink(it->path()).string();
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir;
};

ZipEntrySpec link(const std::string& name, const std::string& text) {
  ZipEntrySpec spec;
  spec.name = name;
  spec.data = text;
  spec.externalAttributes = 0120777u << 16;
  return spec;
}

void patch32(std::string& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

void writeBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Names ------------------------------------------------------------------

TEST_F(UnzipActionSafety, NamesClimbingOutOfTheDestinationAreSkipped) {
  ZipBuilder()
      .add("../evil.txt", "1")
      .add("a/../../evil2.txt", "2")
      .add("..\\evil3.txt", "3")
      .addDirectory("../evil-dir/")
      .add("../evil-dir/x/skipped-too", "4")
      .add("a/..", "5")
      .add("ok/../fine.txt", "6")
      .write(package());
  Outcome outcome = unzip(R"(["only/this"])");
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.out, opening(7) + "Skip unzip file (outside destination)../evil.txt\n" +
                             "Skip unzip file (outside destination)a/../../evil2.txt\n" +
                             "Skip unzip file (outside destination)../evil3.txt\n" +
                             "Skip unzip file (outside destination)../evil-dir/\n" +
                             "Skip unzip file (outside destination)../evil-dir/x/skipped-too\n" +
                             "Skip unzip file (outside destination)a/..\n" +
                             "Skip unzip file (not in include list)ok/../fine.txt\n");
  EXPECT_EQ(everything(), (std::vector<std::string>{"out", "package.zip"}));
}

TEST_F(UnzipActionSafety, DotDotInsideTheDestinationIsWrittenWhereItLeads) {
  ZipBuilder().add("ok/../fine.txt", "6").add("/abs/olute.txt", "7").write(package());
  Outcome outcome = unzip();
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.out, opening(2) + unzipLine("ok/../fine.txt", 1) + unzipLine("abs/olute.txt", 1));
  EXPECT_EQ(readFile(out() / "fine.txt"), "6");
  EXPECT_EQ(readFile(out() / "abs/olute.txt"), "7");
}

// Links already in the destination ------------------------------------------

TEST_F(UnzipActionSafety, ExistingLinksLeadingOutAreNeverWrittenThrough) {
  dir.mkdir("elsewhere");
  dir.mkdir("out");
  fs::create_symlink(dir / "elsewhere", out() / "escape");
  fs::create_symlink("../elsewhere", out() / "escape2");
  ZipBuilder().add("escape/file", "1").addDirectory("escape/sub/").add("escape2/deeper/file", "2").write(package());
  Outcome outcome = unzip();
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.out, opening(3) + "Skip unzip file (outside destination)escape/file\n" +
                             "Skip unzip file (outside destination)escape/sub/\n" +
                             "Skip unzip file (outside destination)escape2/deeper/file\n");
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

TEST_F(UnzipActionSafety, ALinkAtTheTargetIsReplacedNotWrittenThrough) {
  fs::path victim = dir.write("victim.txt", "keep me");
  dir.mkdir("out");
  fs::create_symlink(victim, out() / "file.txt");
  ZipBuilder().add("file.txt", "replaced").write(package());
  Outcome outcome = unzip();
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(readFile(victim), "keep me");
  EXPECT_FALSE(fs::is_symlink(out() / "file.txt"));
  EXPECT_EQ(readFile(out() / "file.txt"), "replaced");
}

// Link entries -------------------------------------------------------------

TEST_F(UnzipActionSafety, LinkEntriesInsideTheDestinationAreRestored) {
  dir.write("out/bin/tool", "old file where the link goes");
  ZipBuilder()
      .add("lib/tool-1.0", "#!/bin/sh\n")
      .add(link("bin/tool", "../lib/tool-1.0"))
      .add(link("current", "lib"))
      .add("current/added.txt", "through an inside link")
      .write(package());
  Outcome outcome = unzip();
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.out, opening(4) + unzipLine("lib/tool-1.0", 10) + unzipLine("bin/tool", 15) +
                             unzipLine("current", 3) + unzipLine("current/added.txt", 22));
  EXPECT_EQ(fs::read_symlink(out() / "bin/tool"), "../lib/tool-1.0");
  EXPECT_EQ(readFile(out() / "bin/tool"), "#!/bin/sh\n");
  EXPECT_EQ(readFile(out() / "lib/added.txt"), "through an inside link");
  EXPECT_EQ(everything(),
            (std::vector<std::string>{"out", "out/bin", "out/bin/tool -> ../lib/tool-1.0", "out/current -> lib",
                                      "out/lib", "out/lib/added.txt", "out/lib/tool-1.0", "package.zip"}));
}

TEST_F(UnzipActionSafety, LinkEntriesLeadingOutAreSkippedAndNeverFollowed) {
  dir.mkdir("elsewhere");
  ZipBuilder()
      .add(link("abs", (dir / "elsewhere").string()))
      .add(link("up", ".."))
      .add(link("sub/up2", "../../elsewhere"))
      .add(link("self", "."))
      .add(link("trick", "self/.."))
      .add("up/planted", "1")
      .add("trick/planted", "2")
      .add("abs/planted", "3")
      .write(package());
  Outcome outcome = unzip();
  EXPECT_EQ(outcome.error, "");
  const std::string absText = (dir / "elsewhere").string();
  EXPECT_EQ(outcome.out, opening(8) + unzipLine("abs", absText.size()) + "Skip unzip file (outside destination)abs\n" +
                             unzipLine("up", 2) + "Skip unzip file (outside destination)up\n" +
                             unzipLine("sub/up2", 15) + "Skip unzip file (outside destination)sub/up2\n" +
                             unzipLine("self", 1) + unzipLine("trick", 7) +
                             "Skip unzip file (outside destination)trick\n" + unzipLine("up/planted", 1) +
                             unzipLine("trick/planted", 1) + unzipLine("abs/planted", 1));
  // The refused link names became plain directories holding the files.
  EXPECT_EQ(everything(),
            (std::vector<std::string>{"elsewhere", "out", "out/abs", "out/abs/planted", "out/self -> .", "out/sub",
                                      "out/trick", "out/trick/planted", "out/up", "out/up/planted", "package.zip"}));
}

TEST_F(UnzipActionSafety, ADirectoryAtAFileOrLinkTargetEndsTheRunAndStaysIntact) {
  dir.write("out/app/keep.txt", "kept");
  ZipBuilder().add("first.txt", "1").add("app", "would replace a directory").add("later.txt", "3").write(package());
  Outcome outcome = unzip();
  EXPECT_NE(outcome.error.find((out() / "app").string()), std::string::npos) << outcome.error;
  EXPECT_EQ(outcome.out, opening(3) + unzipLine("first.txt", 1) + unzipLine("app", 25));
  EXPECT_EQ(everything(),
            (std::vector<std::string>{"out", "out/app", "out/app/keep.txt", "out/first.txt", "package.zip"}));

  ZipBuilder().add(link("app", "first.txt")).write(package());
  outcome = unzip();
  EXPECT_NE(outcome.error.find((out() / "app").string()), std::string::npos) << outcome.error;
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(out() / "app")));
}

// Damaged data -------------------------------------------------------------

TEST_F(UnzipActionSafety, WrongCrcEndsTheRunAndKeepsTheOldFile) {
  dir.write("out/app", "old working version");
  ZipBuilder builder;
  builder.add("before.txt", "b", 8).add("app", std::string(100000, 'n'), 8).add("after.txt", "a");
  std::string bytes = builder.bytes();
  patch32(bytes, builder.centralHeaderOffset(1) + 16, 0x12345678);
  writeBytes(package(), bytes);
  Outcome outcome = unzip();
  EXPECT_EQ(outcome.error, "Archive entry app is corrupt: CRC-32 mismatch");
  EXPECT_EQ(outcome.out, opening(3) + unzipLine("before.txt", 1) + unzipLine("app", 100000));
  EXPECT_EQ(readFile(out() / "app"), "old working version");
  EXPECT_EQ(everything(), (std::vector<std::string>{"out", "out/app", "out/before.txt", "package.zip"}));
}

TEST_F(UnzipActionSafety, DataShorterOrLongerThanDeclaredEndsTheRun) {
  ZipBuilder builder;
  builder.add("short.bin", std::string(5000, 's'), 8);
  std::string bytes = builder.bytes();
  patch32(bytes, builder.centralHeaderOffset(0) + 24, 6000);  // declared size
  writeBytes(package(), bytes);
  EXPECT_EQ(unzip().error, "Archive entry short.bin is corrupt: 5000 of 6000 bytes");

  patch32(bytes, builder.centralHeaderOffset(0) + 24, 4000);
  writeBytes(package(), bytes);
  EXPECT_EQ(unzip().error, "Archive entry short.bin is corrupt: more than 4000 bytes");
  EXPECT_EQ(everything(), (std::vector<std::string>{"out", "package.zip"}));
}

TEST_F(UnzipActionSafety, GarbledCompressedDataEndsTheRun) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "row " + std::to_string(i) + "\n";
  for (uint16_t method : {8, 12, 14}) {
    ZipBuilder builder;
    builder.add("data.txt", text, method);
    std::string bytes = builder.bytes();
    size_t middle = (builder.localHeaderOffset(0) + builder.centralDirectoryOffset()) / 2;
    for (size_t i = middle; i < middle + 64; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    writeBytes(package(), bytes);
    Outcome outcome = unzip();
    EXPECT_EQ(outcome.error.rfind("Archive entry data.txt is corrupt: ", 0), 0u) << method << ": " << outcome.error;
    EXPECT_EQ(everything(), (std::vector<std::string>{"out", "package.zip"})) << method;
  }
}

TEST_F(UnzipActionSafety, TruncatedOrForeignArchiveIsNotMistakenForAnEmptyOne) {
  ZipBuilder builder;
  builder.add("a.txt", std::string(3000, 'a'), 8).add("b.txt", "b");
  std::string bytes = builder.bytes();
  writeBytes(package(), bytes.substr(0, bytes.size() / 2));
  Outcome outcome = unzip();
  EXPECT_EQ(outcome.error, "Not a ZIP archive: " + package().string());
  EXPECT_EQ(outcome.out, "Unzip archive " + package().string() + " to " + out().string() + "\nOpen zip file " +
                             package().string() + "\n");

  writeBytes(package(), "this is a text file, not an archive\n");
  EXPECT_EQ(unzip().error, "Not a ZIP archive: " + package().string());
  writeBytes(package(), "PK");
  EXPECT_EQ(unzip().error, "Not a ZIP archive: " + package().string());
  EXPECT_EQ(everything(), (std::vector<std::string>{"out", "package.zip"}));
}

TEST_F(UnzipActionSafety, UnreadableLocalHeaderEndsTheRun) {
  ZipBuilder builder;
  builder.add("a.txt", "some data");
  std::string bytes = builder.bytes();
  patch32(bytes, builder.centralHeaderOffset(0) + 42, 0x00ffffff);
  writeBytes(package(), bytes);
  EXPECT_EQ(unzip().error, "Archive entry a.txt is corrupt: its data cannot be read");
  EXPECT_EQ(everything(), (std::vector<std::string>{"out", "package.zip"}));
}

// Unusable source and destination ---------------------------------------------

TEST_F(UnzipActionSafety, SourceThatIsADirectoryEndsTheRun) {
  dir.mkdir("package.zip");
  EXPECT_EQ(unzip().error, "cannot open zip file");
}

TEST_F(UnzipActionSafety, DestinationThatIsAFileEndsTheRunUntouched) {
  dir.write("out", "a file");
  ZipBuilder().add("a.txt", "a").write(package());
  Outcome outcome = unzip();
  EXPECT_NE(outcome.error.find("Not a directory"), std::string::npos) << outcome.error;
  EXPECT_EQ(readFile(out()), "a file");
}

TEST_F(UnzipActionSafety, AParentThatIsAFileEndsTheRun) {
  dir.write("out/lib", "a file");
  ZipBuilder().add("lib/x.so", "x").write(package());
  Outcome outcome = unzip();
  EXPECT_NE(outcome.error.find((out() / "lib").string()), std::string::npos) << outcome.error;
  EXPECT_EQ(readFile(out() / "lib"), "a file");
}

TEST_F(UnzipActionSafety, OversizedOrNulLinkTextEndsTheRun) {
  ZipBuilder().add(link("long", std::string(5000, 'x'))).write(package());
  EXPECT_EQ(unzip().error, "Archive entry long is corrupt: symbolic link text longer than 4095 bytes");
  ZipBuilder().add(link("nul", std::string("a\0b", 3))).write(package());
  EXPECT_EQ(unzip().error, "Archive entry nul is corrupt: symbolic link text holds a NUL byte");
  EXPECT_EQ(everything(), (std::vector<std::string>{"out", "package.zip"}));
}

}  // namespace
