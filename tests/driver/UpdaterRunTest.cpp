// End-to-end runs of the real updater executable: command line, header,
// manifest reading in every compression method, the exit statuses, and the
// line that reports an exception.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace fs = std::filesystem;
namespace ts = testing_support;

namespace {

const std::string kTwoDelays = R"({"actions": [[{"type": "delay", "value": 0, "description": "first"},)"
                               R"( {"type": "delay", "value": -5, "description": "second"}]]})";
const std::string kTwoDelaysOutput =
    "\nPerform action: first\nDo delay for 0ms\n\nPerform action: second\nDo delay for -5ms\n";

// A package in a fresh temporary folder; runs happen in that folder.
class UpdaterRun : public ::testing::Test {
 protected:
  fs::path package() const { return dir / "update.zip"; }
  void writeManifest(const std::string& json) const { ts::makeManifestPackage(package(), json); }
  ts::RunResult run(const std::vector<std::string>& args) const {
    ts::RunOptions options;
    options.cwd = dir.path();
    return ts::runUpdater(args, options);
  }
  // Runs "-f <absolute package path>" and returns the run.
  ts::RunResult runPackage() const { return run({"-f", package().string()}); }
  std::string header() const { return ts::header(package().string()); }

  ts::TempDir dir;
};

// The version declared by the build's project() line.
std::string projectVersion() {
  std::string cmake = ts::readFile(fs::path(UPDATER_SOURCE_DIR) / "CMakeLists.txt");
  const std::string marker = "project(updater VERSION ";
  size_t at = cmake.find(marker);
  if (at == std::string::npos) return "<no version in CMakeLists.txt>";
  at += marker.size();
  return cmake.substr(at, cmake.find_first_of(" )", at) - at);
}

std::string whatOf(void (*failing)()) {
  try {
    failing();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "no exception";
}

}  // namespace

// --- command line ---------------------------------------------------------

TEST_F(UpdaterRun, NoArgumentsAskForThePackage) {
  ts::RunResult r = run({});
  EXPECT_EQ(r.out, "Arguments are required: -f ");
  EXPECT_EQ(r.status, 1);
}

TEST_F(UpdaterRun, RefusedCommandLinesStopBeforeTheHeader) {
  writeManifest(kTwoDelays);
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {{"-f", "update.zip", "-s"}, "few parameters for argument: -s\n"},
      {{"-f", "update.zip", "-x", "1"}, "Invalid argument: -x\n"},
      {{"-f", "update.zip", "1"}, "Unexpected argument: 1\n"},
      {{"-f", "update.zip", "-s", "0", "-"}, "Invalid argument: -\n"},
      {{"-s", "0", "-f"}, "few parameters for argument: -f\n"},
      {{"a.zip", "-f", "b.zip"}, "Unexpected argument: a.zip\n"},
      {{"", "a.zip"}, "Unexpected argument: \n"},
      {{"-sfoo", "1", "-file"}, "few parameters for argument: -file\n"},
      // A bad pair after good ones still fails the whole command line.
      {{"-f", "update.zip", "-s", "1", "-q", "2"}, "Invalid argument: -q\n"},
      // No package path among the pairs.
      {{"-s", "1"}, "Arguments are required: -f "},
  };
  for (const Case& c : cases) {
    ts::RunResult r = run(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, 1) << c.out;
  }
}

TEST_F(UpdaterRun, SetNumberThatIsNoNumberEndsTheRun) {
  writeManifest(kTwoDelays);
  std::string expected = "Update failed: " + whatOf([] { (void)std::stoi("abc"); }) + "\n";
  ts::RunResult r = run({"-f", "update.zip", "-s", "abc"});
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.status, 2);
}

TEST_F(UpdaterRun, SingleArgumentIsThePackage) {
  writeManifest(kTwoDelays);
  ts::RunResult r = run({"update.zip"});
  EXPECT_EQ(r.out, ts::header("update.zip") + kTwoDelaysOutput);
  EXPECT_EQ(r.status, 0);
}

TEST_F(UpdaterRun, LoneFlagIsAPackagePath) {
  ts::makeManifestPackage(dir / "-f", kTwoDelays);
  ts::RunResult r = run({"-f"});
  EXPECT_EQ(r.out, ts::header("-f") + kTwoDelaysOutput);
  EXPECT_EQ(r.status, 0);
}

TEST_F(UpdaterRun, GluedFlagValueIsIgnored) {
  ts::makeManifestPackage(dir / "x.zip", kTwoDelays);
  ts::RunResult r = run({"-fpackage.zip", "x.zip"});
  EXPECT_EQ(r.out, ts::header("x.zip") + kTwoDelaysOutput);
  EXPECT_EQ(r.status, 0);
}

TEST_F(UpdaterRun, NegativeSetNumberPrintsUnsigned) {
  writeManifest(kTwoDelays);
  ts::RunResult r = run({"-f", "update.zip", "-s", "-1"});
  EXPECT_EQ(r.out, ts::header("update.zip", "4294967295") + "Invalid set number\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(UpdaterRun, SetNumberSelectsTheSet) {
  writeManifest(R"({"actions": [[{"type": "delay", "value": 1, "description": "zero"}],)"
                R"( [{"type": "delay", "value": 2, "description": "one"}]]})");
  ts::RunResult r = run({"-s", "1", "-f", "update.zip"});
  EXPECT_EQ(r.out, ts::header("update.zip", "1") + "\nPerform action: one\nDo delay for 2ms\n");
  EXPECT_EQ(r.status, 0);
  r = run({"-f", "update.zip", "-s", "2"});
  EXPECT_EQ(r.out, ts::header("update.zip", "2") + "Invalid set number\n");
}

TEST_F(UpdaterRun, HeaderShowsThePathAsTypedAndTheAliasTheCanonicalPath) {
  writeManifest(R"({"actions": [[{"type": "execute", "program": "echo", "wait": true,)"
                R"( "arguments": ["@update.zip"]}]]})");
  dir.mkdir("sub");
  fs::create_symlink(package(), dir / "sub" / "link.zip");
  ts::RunResult r = run({"-f", "sub/../sub/link.zip"});
  std::string command = "echo " + package().string();
  EXPECT_EQ(r.out, ts::header("sub/../sub/link.zip") + "\nPerform action: \nExecute program " + command + "\n" +
                       package().string() + "\nExecution program " + command + " result is 0\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(UpdaterRun, HelpAndVersionWhenNoSuchFileExists) {
  ts::RunResult help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: updater -f <package.zip> [-s <action set number>]\n", 0), 0u) << help.out;
  ts::RunResult version = run({"--version"});
  EXPECT_EQ(version.out, "updater " + projectVersion() + "\n");
  EXPECT_EQ(version.status, 0);
}

TEST_F(UpdaterRun, HelpIsAPackagePathWhenSuchFileExists) {
  ts::makeManifestPackage(dir / "--help", kTwoDelays);
  ts::RunResult r = run({"--help"});
  EXPECT_EQ(r.out, ts::header("--help") + kTwoDelaysOutput);
  // Together with other arguments it is an ordinary (bad) argument.
  r = run({"--version", "x"});
  EXPECT_EQ(r.out, "Invalid argument: --version\n");
  EXPECT_EQ(r.status, 1);
}

// --- the manifest -----------------------------------------------------------

TEST_F(UpdaterRun, ManifestReadInEveryMethod) {
  // Larger than one 32 KB block, so reading goes on past the first block.
  std::string padded = R"({"padding": ")" + std::string(100000, 'p') + R"(", )" + kTwoDelays.substr(1);
  struct Case {
    uint16_t method;
    bool endMarker;
    uint16_t version;
  };
  for (const Case& c :
       {Case{0, true, 10}, Case{8, true, 20}, Case{12, true, 46}, Case{14, true, 63}, Case{14, false, 63}}) {
    for (const std::string& manifest : {kTwoDelays, padded}) {
      SCOPED_TRACE("method " + std::to_string(c.method) + (c.endMarker ? "" : " without end marker") + ", " +
                   std::to_string(manifest.size()) + " bytes");
      ts::ZipEntrySpec entry;
      entry.name = "manifest.json";
      entry.data = manifest;
      entry.method = c.method;
      entry.lzmaEndMarker = c.endMarker;
      entry.versionNeeded = c.version;
      ts::ZipBuilder().add("payload.bin", std::string(5000, 'x'), 8).add(entry).write(package());
      ts::RunResult r = runPackage();
      EXPECT_EQ(r.out, header() + kTwoDelaysOutput);
      EXPECT_EQ(r.status, 0);
    }
  }
}

TEST_F(UpdaterRun, ManifestMustBeAtTheTopLevelUnderItsExactName) {
  ts::ZipBuilder().add("sub/manifest.json", kTwoDelays).add("Manifest.json", kTwoDelays).write(package());
  ts::RunResult r = runPackage();
  EXPECT_EQ(r.out, header() + "Manifest file doesn't exist\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(UpdaterRun, EmptyManifest) {
  writeManifest("");
  ts::RunResult r = runPackage();
  EXPECT_EQ(r.out, header() + "Manifest file is empty\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(UpdaterRun, ManifestWhoseRootIsNoObject) {
  for (const std::string& text : {std::string("[1, 2]"), std::string("42"), std::string("not json"),
                                  std::string("{\"actions\": [[]]"), std::string("{} {}"), std::string(" \n ")}) {
    writeManifest(text);
    ts::RunResult r = runPackage();
    EXPECT_EQ(r.out, header() + "JSON root is not object") << text;
    EXPECT_EQ(r.status, 255) << text;
  }
}

TEST_F(UpdaterRun, NulByteEndsTheManifestText) {
  writeManifest(kTwoDelays + std::string(1, '\0') + "trailing garbage");
  ts::RunResult r = runPackage();
  EXPECT_EQ(r.out, header() + kTwoDelaysOutput);
  EXPECT_EQ(r.status, 0);

  writeManifest(std::string(1, '\0') + kTwoDelays);
  r = runPackage();
  EXPECT_EQ(r.out, header() + "JSON root is not object");
  EXPECT_EQ(r.status, 255);
}

TEST_F(UpdaterRun, DeeplyNestedManifestsDoNotExhaustTheStack) {
  const size_t depth = 100000;
  writeManifest(std::string(depth, '[') + std::string(depth, ']'));
  ts::RunResult r = runPackage();
  EXPECT_EQ(r.out, header() + "JSON root is not object");
  EXPECT_EQ(r.status, 255);

  std::string nested;
  for (size_t i = 0; i < depth; ++i) nested += "{\"a\":";
  nested += "1" + std::string(depth, '}');
  writeManifest(R"({"deep": )" + nested + ", " + kTwoDelays.substr(1));
  r = runPackage();
  EXPECT_EQ(r.out, header() + kTwoDelaysOutput);
  EXPECT_EQ(r.status, 0);
}

TEST_F(UpdaterRun, UnreadableManifests) {
  ts::ZipEntrySpec encrypted;
  encrypted.name = "manifest.json";
  encrypted.data = kTwoDelays;
  encrypted.password = "secret";
  ts::ZipEntrySpec tooNew;
  tooNew.name = "manifest.json";
  tooNew.data = kTwoDelays;
  tooNew.versionNeeded = 64;
  for (const ts::ZipEntrySpec& entry : {encrypted, tooNew}) {
    ts::ZipBuilder().add(entry).write(package());
    ts::RunResult r = runPackage();
    EXPECT_EQ(r.out, header() + "Manifest file can't be read\n");
    EXPECT_EQ(r.status, 255);
  }
}

namespace {

void patch32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}
void patch16(std::string& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xff);
  bytes[at + 1] = static_cast<char>(value >> 8);
}
void writeBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST_F(UpdaterRun, ManifestShorterThanItsDeclaredSizeIsUnreadable) {
  for (uint16_t method : {uint16_t{0}, uint16_t{8}}) {
    ts::ZipBuilder builder;
    builder.add("manifest.json", kTwoDelays, method);
    std::string bytes = builder.bytes();
    // Uncompressed size in the central directory: one byte more than the data.
    patch32(bytes, builder.centralHeaderOffset(0) + 24, static_cast<uint32_t>(kTwoDelays.size() + 1));
    writeBytes(package(), bytes);
    ts::RunResult r = runPackage();
    EXPECT_EQ(r.out, header() + "Manifest file can't be read\n") << "method " << method;
    EXPECT_EQ(r.status, 255);

    // An absurd size is refused just the same, without reserving 4 GB.
    patch32(bytes, builder.centralHeaderOffset(0) + 24, 0xffffffffu);
    writeBytes(package(), bytes);
    r = runPackage();
    EXPECT_EQ(r.out, header() + "Manifest file can't be read\n") << "method " << method;
    EXPECT_EQ(r.status, 255);
  }
}

TEST_F(UpdaterRun, ManifestWithCompressedSizeBeyondTheFile) {
  ts::ZipBuilder builder;
  builder.add("manifest.json", kTwoDelays, 8);
  std::string bytes = builder.bytes();
  patch32(bytes, builder.centralHeaderOffset(0) + 20, 0xfffffff0u);
  writeBytes(package(), bytes);
  ts::RunResult r = runPackage();
  // The data reads on into the directory; the deflate stream still ends.
  EXPECT_EQ(r.out, header() + kTwoDelaysOutput);
  EXPECT_EQ(r.status, 0);
}

// --- bad packages -----------------------------------------------------------

TEST_F(UpdaterRun, MissingPackageIsReportedAndNotCreated) {
  fs::path missing = dir / "missing.zip";
  std::string expected = "Update failed: ";
  try {
    (void)fs::canonical(missing);
  } catch (const fs::filesystem_error& error) {
    expected += error.what();
  }
  ts::RunResult r = run({"-f", missing.string()});
  EXPECT_EQ(r.out, ts::header(missing.string()) + expected + "\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(UpdaterRun, FilesThatAreNoArchiveHaveNoManifest) {
  for (const std::string& content : {std::string(), std::string("PK"),
                                     std::string("this is not a zip archive, just text\n"), std::string(5000, '\0')}) {
    writeBytes(package(), content);
    ts::RunResult r = runPackage();
    EXPECT_EQ(r.out, header() + "Manifest file doesn't exist\n") << content.size() << " bytes";
    EXPECT_EQ(r.status, 255);
  }
}

TEST_F(UpdaterRun, DirectoryAsPackage) {
  fs::path folder = dir.mkdir("folder.zip");
  ts::RunResult r = run({"-f", folder.string()});
  EXPECT_EQ(r.out, ts::header(folder.string()) + "Update failed: cannot open zip file\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(UpdaterRun, DamagedDirectories) {
  ts::ZipBuilder builder;
  builder.add("readme.txt", "first entry").add("manifest.json", kTwoDelays, 8);
  const std::string good = builder.bytes();

  // Cut inside the second central header: the end record is gone too.
  std::string cut = good.substr(0, builder.centralHeaderOffset(1) + 20);
  writeBytes(package(), cut);
  EXPECT_EQ(runPackage().out, header() + "Manifest file doesn't exist\n");

  // Directory offset beyond the end of the file.
  std::string farOffset = good;
  patch32(farOffset, builder.endRecordOffset() + 16, 0x7ffffff0u);
  writeBytes(package(), farOffset);
  EXPECT_EQ(runPackage().out, header() + "Manifest file doesn't exist\n");

  // The first header claims a name of 65535 bytes: the directory reading
  // goes astray and the manifest is not found; nothing crashes.
  std::string longName = good;
  patch16(longName, builder.centralHeaderOffset(0) + 28, 0xffff);
  writeBytes(package(), longName);
  ts::RunResult r = runPackage();
  EXPECT_EQ(r.out, header() + "Manifest file doesn't exist\n");
  EXPECT_EQ(r.status, 255);

  // The manifest's local header offset points past the file.
  std::string badLocal = good;
  patch32(badLocal, builder.centralHeaderOffset(1) + 42, 0x7ffffff0u);
  writeBytes(package(), badLocal);
  r = runPackage();
  EXPECT_EQ(r.out, header() + "Manifest file can't be read\n");
  EXPECT_EQ(r.status, 255);
}

// --- actions ----------------------------------------------------------------

TEST_F(UpdaterRun, InvalidActionsAreSkippedAndTheirMessagesComeFirst) {
  writeManifest(R"({"actions": [[{"type": "delay", "value": 1, "description": "a"},)"
                R"( {"type": "delay", "value": "2", "description": "bad"},)"
                R"( {"type": "delay", "description": "also bad"},)"
                R"( {"type": "delay", "value": 3, "description": "c"}]]})");
  ts::RunResult r = runPackage();
  EXPECT_EQ(r.out, header() + "Fail to parse Delay ActionFail to parse Delay Action" +
                       "\nPerform action: a\nDo delay for 1ms\n\nPerform action: c\nDo delay for 3ms\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(UpdaterRun, SetLevelProblemsEndWithStatusZero) {
  struct Case {
    std::string manifest;
    std::string out;
  };
  const Case cases[] = {
      {R"({"other": 1})", "JSON has no actions member\n"},
      {R"({"actions": {}})", "Actions isn't array\n"},
      {R"({"actions": []})", "Invalid set number\n"},
      {R"({"actions": [5]})", "Actrions set is not array\n"},
      {R"({"actions": [[]]})", ""},
      {R"({"actions": [[{"type": "delay"}]]})", "Fail to parse Delay Action"},
  };
  for (const Case& c : cases) {
    writeManifest(c.manifest);
    ts::RunResult r = runPackage();
    EXPECT_EQ(r.out, header() + c.out) << c.manifest;
    EXPECT_EQ(r.status, 0) << c.manifest;
  }
}

TEST_F(UpdaterRun, UnboundAliasWhileBuildingEndsTheRunBeforeAnyAction) {
  writeManifest(R"({"actions": [[{"type": "delay", "value": 0, "description": "never"},)"
                R"( {"type": "execute", "program": "touch", "wait": true, "arguments": ["@other.zip"]}]]})");
  ts::RunResult r = runPackage();
  EXPECT_EQ(r.out, header() + "Update failed: Alias does not found\n");
  EXPECT_EQ(r.status, 2);
}

TEST_F(UpdaterRun, ExecutedProgramsShareTheOutputInOrder) {
  writeManifest(R"({"actions": [[{"type": "execute", "program": "echo", "wait": true, "arguments": ["one"]},)"
                R"( {"type": "delay", "value": 0, "description": "between"},)"
                R"( {"type": "execute", "program": "exit 3", "wait": true}]]})");
  ts::RunResult r = runPackage();
  EXPECT_EQ(r.out, header() +
                       "\nPerform action: \nExecute program echo one\none\nExecution program echo one result is 0\n" +
                       "\nPerform action: between\nDo delay for 0ms\n" +
                       "\nPerform action: \nExecute program exit 3\nExecution program exit 3 result is 768\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(UpdaterRun, ExceptionWhilePerformingEndsTheRunAtThatAction) {
  writeManifest(R"({"actions": [[{"type": "delay", "value": 0, "description": "first"},)"
                R"( {"type": "unzip", "source": "@other.zip", "destination": "out", "description": "unpack"},)"
                R"( {"type": "delay", "value": 0, "description": "never"}]]})");
  ts::RunResult r = runPackage();
  EXPECT_EQ(r.out, header() + "Field include does not found\nField exclude does not found\n" +
                       "\nPerform action: first\nDo delay for 0ms\n" +
                       "\nPerform action: unpack\nUnzip archive @other.zip to out\n" +
                       "Update failed: Alias does not found\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(UpdaterRun, PackageAliasReachesTheUnzipAction) {
  ts::ZipBuilder()
      .add("manifest.json", R"({"actions": [[{"type": "unzip", "source": "@update.zip", "destination": "out",)"
                            R"( "include": ["bin/tool"], "exclude": []}]]})")
      .addDirectory("bin")
      .add("bin/tool", "#!/bin/sh\n", 8)
      .write(package());
  ts::RunResult r = run({"update.zip"});
  EXPECT_EQ(r.out, ts::header("update.zip") + "\nPerform action: \nUnzip archive @update.zip to out\nOpen zip file " +
                       package().string() + "\nEntries count 3\nSkip unzip file (not in include list)manifest.json\n" +
                       "Unzip file: bin/tool, size:10, to: \"out/bin/tool\"\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ts::readFile(dir / "out" / "bin" / "tool"), "#!/bin/sh\n");
}
