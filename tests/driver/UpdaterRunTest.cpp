// Whole runs of the updater's driver: header, manifest reading in every
// compression method, damaged packages, the exit statuses, and the line that
// reports an exception. The executable runs where a process is the point.
#include <string>
#include <vector>

#include "actions/ActionTestSupport.h"

using namespace action_testing;
namespace ts = testing_support;

namespace {

const std::string kTwoDelays = R"({"actions": [[{"type": "delay", "value": 0, "description": "first"},)"
                               R"( {"type": "delay", "value": -5, "description": "second"}]]})";
const std::string kTwoDelaysOutput =
    "\nPerform action: first\nDo delay for 0ms\n\nPerform action: second\nDo delay for -5ms\n";
const std::string kMissing = "Manifest file doesn't exist\n", kUnreadable = "Manifest file can't be read\n",
                  kNoObject = "JSON root is not object";

class UpdaterRun : public ::testing::Test {
 protected:
  fs::path package() const { return dir / "update.zip"; }
  ts::RunResult run(const std::vector<std::string>& args) const { return runHere(dir.path(), args); }

  ts::TempDir dir;
};

std::string manifestPackage(const std::string& json) { return ts::ZipBuilder().add("manifest.json", json).bytes(); }

std::string patched(std::string bytes, size_t at, uint32_t value) {
  patch(bytes, at, value);
  return bytes;
}

}  // namespace

// Each package in turn, run with "-f <absolute path>": whole output after the
// header, and exit status.
TEST_F(UpdaterRun, PackagesAndTheirOutcome) {
  struct Case {
    std::string what, package, out;
    int status;
  };
  const size_t depth = 100000;
  std::string nested;
  for (size_t i = 0; i < depth; ++i) nested += "{\"a\":";
  nested += "1" + std::string(depth, '}');
  const std::string nul(1, '\0');
  ts::ZipEntrySpec encrypted = ts::makeEntry("manifest.json", kTwoDelays);
  encrypted.password = "secret";
  ts::ZipBuilder stored, deflated;
  stored.add("manifest.json", kTwoDelays);
  deflated.add("manifest.json", kTwoDelays, 8);
  const uint32_t longer = static_cast<uint32_t>(kTwoDelays.size() + 1);
  std::vector<Case> cases = {
      {"no file", "", kMissing, 255},
      {"text", "this is not a zip archive, just text\n", kMissing, 255},
      {"not at the top, not the exact name",
       ts::ZipBuilder().add("sub/manifest.json", kTwoDelays).add("Manifest.json", kTwoDelays).bytes(), kMissing, 255},
      {"empty", manifestPackage(""), "Manifest file is empty\n", 255},
      {"encrypted", ts::ZipBuilder().add(encrypted).bytes(), kUnreadable, 255},
      // Declared sizes beyond the data, and an absurd one that must not be reserved up front.
      {"stored, short", patched(stored.bytes(), stored.centralHeaderOffset(0) + 24, longer), kUnreadable, 255},
      {"deflated, 4 GiB: refused unread", patched(deflated.bytes(), deflated.centralHeaderOffset(0) + 24, ~0u),
       "Manifest file is too large\n", 255},
      {"deflated, a byte over 16 MiB", patched(deflated.bytes(), deflated.centralHeaderOffset(0) + 24, (16u << 20) + 1),
       "Manifest file is too large\n", 255},
      {"array root", manifestPackage("[1, 2]"), kNoObject, 255},
      {"no JSON", manifestPackage("not json"), kNoObject, 255},
      {"NUL ends the text", manifestPackage(kTwoDelays + nul + "garbage"), kTwoDelaysOutput, 0},
      // Deep nesting must not exhaust the stack.
      {"deep objects", manifestPackage(R"({"deep": )" + nested + ", " + kTwoDelays.substr(1)), kTwoDelaysOutput, 0},
      {"empty set", manifestPackage(R"({"actions": [[]]})"), "", 0},
      {"invalid actions skipped, their messages first",
       manifestPackage(R"({"actions": [[{"type": "delay", "value": 1, "description": "a"},)"
                       R"( {"type": "delay", "value": "2"}, {"type": "delay"},)"
                       R"( {"type": "delay", "value": 3, "description": "c"}]]})"),
       "Fail to parse Delay ActionFail to parse Delay Action\nPerform action: a\nDo delay for 1ms\n"
       "\nPerform action: c\nDo delay for 3ms\n",
       0},
      {"unbound alias while building",
       manifestPackage(R"({"actions": [[{"type": "delay", "value": 0, "description": "never"},)"
                       R"( {"type": "execute", "program": "touch", "wait": true, "arguments": ["@other.zip"]}]]})"),
       "Update failed: Alias does not found\n", 2},
      {"unbound alias while performing",
       manifestPackage(R"({"actions": [[{"type": "delay", "value": 0, "description": "first"},)"
                       R"( {"type": "unzip", "source": "@other.zip", "destination": "out", "description": "unpack"},)"
                       R"( {"type": "delay", "value": 0, "description": "never"}]]})"),
       "Field include does not found\nField exclude does not found\n\nPerform action: first\nDo delay for 0ms\n"
       "\nPerform action: unpack\nUnzip archive @other.zip to out\nUpdate failed: Alias does not found\n",
       2},
  };
  // Every method, and a manifest larger than one 32 KiB block so that
  // reading goes on past the first block.
  const std::string padded = R"({"padding": ")" + std::string(100000, 'p') + R"(", )" + kTwoDelays.substr(1);
  struct Method {
    uint16_t method, version;
    bool endMarker;
  };
  // 0x0314: the high byte is the host system, as older 7-Zip writes it.
  for (Method m : {Method{0, 10, true}, {8, 0x0314, true}, {12, 46, true}, {14, 63, true}, {14, 63, false}}) {
    ts::ZipEntrySpec entry = ts::makeEntry("manifest.json", padded, m.method);
    entry.lzmaEndMarker = m.endMarker;
    entry.versionNeeded = m.version;
    cases.push_back({"method " + std::to_string(m.method) + (m.endMarker ? "" : " without end marker"),
                     ts::ZipBuilder().add("payload.bin", std::string(5000, 'x'), 8).add(entry).bytes(),
                     kTwoDelaysOutput, 0});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir.write("update.zip", c.package);
    ts::RunResult r = run({"-f", package().string()});
    EXPECT_EQ(r.out, ts::header(package().string()) + c.out);
    EXPECT_EQ(r.status, c.status);
  }
}

// A manifest just under the size limit, parsed with too little memory: the
// run ends with a line and status 2, never by a signal.
TEST_F(UpdaterRun, RunningOutOfMemoryWhileParsingIsAFailureNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  std::string json = R"({"actions": [[]], "padding": [0)";
  while (json.size() < (15u << 20)) json += ",0";
  ts::ZipBuilder().add("manifest.json", json + "]}", 8).write(package());
  ts::RunOptions options{dir.path()};
  options.memoryLimit = 120ll << 20;
  ts::RunResult r = ts::runUpdater({package().string()}, options);
  EXPECT_EQ(r.out, ts::header(package().string()) + "Update failed: std::bad_alloc\n");
  EXPECT_EQ(r.status, 2);
}

TEST_F(UpdaterRun, HeaderShowsThePathAsTypedAndTheAliasTheCanonicalPath) {
  ts::makeManifestPackage(package(), R"({"actions": [[{"type": "execute", "program": "echo", "wait": true,)"
                                     R"( "arguments": ["@update.zip"]}]]})");
  dir.mkdir("sub");
  fs::create_symlink(package(), dir / "sub" / "link.zip");
  // A process: the program prints to the same output.
  ts::RunResult r = ts::runUpdater({"sub/../sub/link.zip"}, {dir.path()});
  // The program's own line comes between the two lines about it.
  std::string command = "echo " + package().string();
  EXPECT_EQ(r.out, ts::header("sub/../sub/link.zip") + "\nPerform action: \nExecute program " + command + "\n" +
                       package().string() + "\nExecution program " + command + " result is 0\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(UpdaterRun, HelpAndVersionOnlyWhenNoSuchFileExists) {
  ts::RunResult help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: updater -f <package.zip> [-s <action set number>]\n", 0), 0u) << help.out;
  ts::RunResult version = run({"--version"});
  EXPECT_EQ(version.out, "updater " PROJECT_VERSION_TEXT "\n");
  EXPECT_EQ(version.status, 0);

  ts::makeManifestPackage(dir / "--help", kTwoDelays);
  EXPECT_EQ(run({"--help"}).out, ts::header("--help") + kTwoDelaysOutput);
}
