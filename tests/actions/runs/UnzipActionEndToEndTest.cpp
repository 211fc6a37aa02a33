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

// The lines that open the action, `opened` the file the archive is read from.
std::string unpacking(const std::string& source, const fs::path& destination, const fs::path& opened, int entries) {
  return "\nPerform action: Unpack\nUnzip archive " + source + " to " + destination.string() + "\nOpen zip file " +
         opened.string() + "\nEntries count " + std::to_string(entries) + "\n";
}

}  // namespace

// Stored modes apply as they are; entries without one get the bits of a new file.
TEST(UnzipEndToEnd, PackageUnpacksItselfWithEveryKindOfLine) {
  TempDir dir;
  ZipBuilder payload;
  payload.addDirectory("bin/");
  for (const auto& [name, mode] :
       {std::pair<const char*, uint32_t>{"bin/tool", 0106755}, {"zero", 0100000}, {"none", 0}}) {
    testing_support::ZipEntrySpec entry = testing_support::makeEntry(name, "#!/bin/sh\necho tool\n", 8);
    entry.externalAttributes = mode << 16;
    payload.add(entry);
  }
  payload.add("doc/notes.txt", "notes", 12).add("../outside.txt", "x");
  const fs::path out = dir / "out";
  const mode_t umask = ::umask(027);  // the run is in this process
  RunResult result = runActions(
      dir, unzipAction("@update.zip", out.string(), R"(,"exclude":"manifest.json")") + "," + kDelay, payload);
  ::umask(umask);
  std::string unpacked;
  for (const char* name : {"bin/tool", "zero", "none"})
    unpacked += "Unzip file: " + std::string(name) + ", size:20, to: " + q(out / name) + "\n";
  EXPECT_EQ(result.out, header("update.zip") + "Field include does not found\n" +
                            unpacking("@update.zip", out, dir / "update.zip", 7) + unpacked +
                            "Unzip file: doc/notes.txt, size:5, to: " + q(out / "doc/notes.txt") + "\n" +
                            "Skip unzip file (outside destination)../outside.txt\n" +
                            "Skip unzip file (in exclude list)manifest.json\n" + kDelayLines);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(out / "bin/tool"), "#!/bin/sh\necho tool\n");
  EXPECT_EQ(fs::status(out / "bin/tool").permissions(), fs::perms(06755));
  EXPECT_EQ(fs::status(out / "zero").permissions(), fs::perms::none);
  EXPECT_EQ(fs::status(out / "none").permissions(), fs::perms(0640));
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
  EXPECT_EQ(result.out, header("update.zip") + unpacking("@update.zip", "@update.zip", dir / "update.zip", 2) +
                            "Unzip file: a.txt, size:1, to: \"@update.zip/a.txt\"\n" +
                            "Skip unzip file (not in include list)manifest.json\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(dir / "@update.zip/a.txt"), "a");
}

TEST(UnzipEndToEnd, MissingSourceUnpacksNothing) {
  TempDir dir;
  const fs::path missing = dir / "missing.zip", out = dir / "out";
  RunResult result = runActions(dir, unzipAction(missing.string(), out.string(), "") + "," + kDelay);
  EXPECT_EQ(result.out, header("update.zip") + "Field include does not found\nField exclude does not found\n" +
                            unpacking(missing.string(), out, missing, 0) + kDelayLines);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(fs::file_size(missing), 0u);
  EXPECT_TRUE(fs::is_empty(out));
}
