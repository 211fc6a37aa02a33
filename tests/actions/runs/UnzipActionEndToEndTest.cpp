// The unzip action through the updater's driver: whole standard output and
// exit status for each of its lines and the failures that end the run.
#include <sys/stat.h>

#include "actions/ActionTestSupport.h"

using namespace action_testing;

namespace {

std::string unzipAction(const std::string& source, const std::string& destination, const std::string& lists) {
  return R"({"type":"unzip","description":"Unpack","source":")" + source + R"(","destination":")" + destination +
         R"(")" + lists + "}";
}

const char* const kDelay = R"({"type":"delay","description":"Then","value":0})";
const char* const kDelayLines = "\nPerform action: Then\nDo delay for 0ms\n";

}  // namespace

TEST(UnzipEndToEnd, PackageUnpacksItselfWithEveryKindOfLine) {
  TempDir dir;
  testing_support::ZipEntrySpec tool = testing_support::makeEntry("bin/tool", "#!/bin/sh\necho tool\n", 8);
  tool.externalAttributes = 0100755u << 16;
  ZipBuilder payload;
  payload.addDirectory("bin/").add(tool).add("doc/notes.txt", "notes", 12).add("../outside.txt", "x");
  const fs::path out = dir / "out";
  RunResult result = runActions(
      dir, unzipAction("@update.zip", out.string(), R"(,"exclude":"manifest.json")") + "," + kDelay, payload);
  EXPECT_EQ(result.out, header("update.zip") + "Field include does not found\n" +
                            "\nPerform action: Unpack\nUnzip archive @update.zip to " + out.string() +
                            "\nOpen zip file " + (dir / "update.zip").string() + "\nEntries count 5\n" +
                            "Unzip file: bin/tool, size:20, to: " + q(out / "bin/tool") + "\n" +
                            "Unzip file: doc/notes.txt, size:5, to: " + q(out / "doc/notes.txt") + "\n" +
                            "Skip unzip file (outside destination)../outside.txt\n" +
                            "Skip unzip file (in exclude list)manifest.json\n" + kDelayLines);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(out / "bin/tool"), "#!/bin/sh\necho tool\n");
  EXPECT_EQ(fs::status(out / "bin/tool").permissions(), fs::perms(0755));
  EXPECT_EQ(readFile(out / "doc/notes.txt"), "notes");
  EXPECT_FALSE(fs::exists(dir / "outside.txt"));
  EXPECT_FALSE(fs::exists(out / "manifest.json"));
}

TEST(UnzipEndToEnd, DestinationIsTakenAsWritten) {
  TempDir dir;
  ZipBuilder payload;
  payload.add("a.txt", "a");
  RunResult result =
      runActions(dir, unzipAction("@update.zip", "@update.zip", R"(,"include":"a.txt","exclude":[])"), payload);
  EXPECT_EQ(result.out, header("update.zip") + "\nPerform action: Unpack\nUnzip archive @update.zip to @update.zip\n" +
                            "Open zip file " + (dir / "update.zip").string() + "\nEntries count 2\n" +
                            "Unzip file: a.txt, size:1, to: \"@update.zip/a.txt\"\n" +
                            "Skip unzip file (not in include list)manifest.json\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(dir / "@update.zip/a.txt"), "a");
}

TEST(UnzipEndToEnd, UnknownMethodEndsTheRunKeepingTheOldFile) {
  TempDir dir;
  const fs::path out = dir / "out", package = dir / "deflate64.zip";
  ZipBuilder().add("app", std::string(40000, 'z'), 9).write(package);
  dir.write("out/app", "working version");
  RunResult result = runActions(dir, unzipAction(package.string(), out.string(), R"(,"include":[],"exclude":[])"));
  EXPECT_EQ(result.out,
            header("update.zip") + "\nPerform action: Unpack\nUnzip archive " + package.string() + " to " +
                out.string() + "\nOpen zip file " + package.string() +
                "\nEntries count 1\nUnzip file: app, size:40000, to: " + q(out / "app") +
                "\nUpdate failed: Archive entry app uses compression method 9, which the updater cannot read\n");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(listing(out), std::vector<std::string>{"app"});
  EXPECT_EQ(readFile(out / "app"), "working version");
}

TEST(UnzipEndToEnd, StoredModesApplyAsTheyAreAndEntriesWithoutOneGetNewFileBits) {
  TempDir dir;
  const fs::path out = dir / "out";
  ZipBuilder payload;
  for (const auto& [name, mode] : {std::pair<const char*, uint32_t>{"zero", 0100000}, {"none", 0}, {"tool", 0100750}}) {
    testing_support::ZipEntrySpec entry = testing_support::makeEntry(name, "x");
    entry.externalAttributes = mode << 16;
    payload.add(entry);
  }
  const mode_t umask = ::umask(027);  // the run is in this process
  RunResult result =
      runActions(dir, unzipAction("@update.zip", out.string(), R"(,"exclude":"manifest.json")"), payload);
  ::umask(umask);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(fs::status(out / "zero").permissions(), fs::perms::none);
  EXPECT_EQ(fs::status(out / "none").permissions(), fs::perms(0640));
  EXPECT_EQ(fs::status(out / "tool").permissions(), fs::perms(0750));
}

// Each write is placed by where the links lead at that moment: "x" leads to
// the root while "y" is "sub", and above the root once "y" is ".".
TEST(UnzipEndToEnd, LinksReplacedByLaterEntriesAreFollowedAsTheyAreThen) {
  TempDir dir;
  const fs::path out = dir / "out";
  auto link = [](const std::string& name, const std::string& text) {
    testing_support::ZipEntrySpec entry = testing_support::makeEntry(name, text);
    entry.externalAttributes = 0120777u << 16;
    return entry;
  };
  ZipBuilder payload;
  payload.addDirectory("sub/").add(link("y", "sub")).add(link("x", "y/..")).add("x/f", "f");
  payload.add(link("y", ".")).add("x/evil", "evil");
  RunResult result =
      runActions(dir, unzipAction("@update.zip", out.string(), R"(,"exclude":"manifest.json")"), payload);
  EXPECT_EQ(result.out,
            header("update.zip") + "Field include does not found\n\nPerform action: Unpack\nUnzip archive " +
                "@update.zip to " + out.string() + "\nOpen zip file " + (dir / "update.zip").string() +
                "\nEntries count 7\nUnzip file: y, size:3, to: " + q(out / "y") +
                "\nUnzip file: x, size:4, to: " + q(out / "x") + "\nUnzip file: x/f, size:1, to: " + q(out / "x/f") +
                "\nUnzip file: y, size:1, to: " + q(out / "y") +
                "\nSkip unzip file (outside destination)x/evil\nSkip unzip file (in exclude list)manifest.json\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(out / "f"), "f");
  EXPECT_FALSE(fs::exists(dir / "evil"));
  EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST(UnzipEndToEnd, MissingSourceUnpacksNothing) {
  TempDir dir;
  const fs::path missing = dir / "missing.zip", out = dir / "out";
  RunResult result = runActions(dir, unzipAction(missing.string(), out.string(), "") + "," + kDelay);
  EXPECT_EQ(result.out, header("update.zip") + "Field include does not found\nField exclude does not found\n" +
                            "\nPerform action: Unpack\nUnzip archive " + missing.string() + " to " + out.string() +
                            "\nOpen zip file " + missing.string() + "\nEntries count 0\n" + kDelayLines);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(fs::file_size(missing), 0u);
  EXPECT_TRUE(fs::is_empty(out));
}
