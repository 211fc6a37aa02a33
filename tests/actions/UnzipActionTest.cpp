#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <random>

#include "actions/ActionTestHelpers.h"
#include "actions/UnzipAction.h"
#include "driver/AliasResolver.h"
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

std::string unzipJson(const std::string& source, const std::string& destination, const std::string& include = "[]",
                      const std::string& exclude = "[]") {
  return R"({"type":"unzip","description":"Unpack","source":")" + source + R"(","destination":")" + destination +
         R"(","include":)" + include + R"(,"exclude":)" + exclude + "}";
}

struct Outcome {
  std::string out;    // everything printed by the constructor and perform()
  std::string error;  // what() of the exception that ended perform(), empty when none
};

// Builds the action from `json`, performs it when valid, and reports what
// was printed and how it ended.
Outcome performUnzip(const std::string& json) {
  rapidjson::Document object = parseJson(json);
  Outcome outcome;
  CapturedOutput output;
  auto action = std::make_shared<UnzipAction>(object);
  try {
    if (action->isValid()) action->perform();
  } catch (const std::exception& error) {
    outcome.error = error.what();
  }
  outcome.out = output.text();
  return outcome;
}

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(generator());
  return data;
}

mode_t modeOf(const fs::path& path) {
  struct stat info;
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode;
}

// Every name below `dir`, relative and sorted, links marked with " -> text".
std::vector<std::string> treeOf(const fs::path& dir) {
  std::vector<std::string> names;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    std::string name = it->path().lexically_relative(dir).string();
    if (it->is_symlink())
      name += " -> " + fs::read_symlink(it->path()).string();
    else if (it->is_directory())
      name += "/";
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

ZipEntrySpec entry(const std::string& name, const std::string& data, uint16_t method = 0,
                   std::optional<uint32_t> attributes = std::nullopt) {
  ZipEntrySpec spec;
  spec.name = name;
  spec.data = data;
  spec.method = method;
  spec.externalAttributes = attributes;
  return spec;
}

uint32_t unixAttributes(uint32_t mode) { return mode << 16; }

class UnzipActionTest : public ::testing::Test {
 protected:
  fs::path package() const { return dir / "package.zip"; }
  fs::path out() const { return dir / "out"; }
  std::string unzipLine(const std::string& name, size_t size) const {
    return "Unzip file: " + name + ", size:" + std::to_string(size) + ", to: \"" + (out() / name).string() + "\"\n";
  }
  std::string opening(size_t entries) const {
    return "Unzip archive " + package().string() + " to " + out().string() + "\nOpen zip file " + package().string() +
           "\nEntries count " + std::to_string(entries) + "\n";
  }

  TempDir dir;
};

// Constructor ------------------------------------------------------------

TEST(UnzipActionFields, SourceAndDestinationStringsMakeItValidSilently) {
  rapidjson::Document object = parseJson(unzipJson("@update.zip", "/tmp/x"));
  CapturedOutput output;
  UnzipAction action(object);
  EXPECT_TRUE(action.isValid());
  EXPECT_EQ(action.getDescription(), "Unpack");
  EXPECT_EQ(output.text(), "");
}

TEST(UnzipActionFields, MissingOrNonStringSourceOrDestinationFailsWithoutLineEnd) {
  const char* cases[] = {
      R"({"type":"unzip","destination":"/tmp/x","include":[],"exclude":[]})",
      R"({"type":"unzip","source":5,"destination":"/tmp/x","include":[],"exclude":[]})",
      R"({"type":"unzip","source":"a.zip","include":[],"exclude":[]})",
      R"({"type":"unzip","source":"a.zip","destination":["/tmp/x"],"include":[],"exclude":[]})",
      R"({"type":"unzip","source":null,"destination":7,"include":[],"exclude":[]})",
  };
  for (const char* json : cases) {
    rapidjson::Document object = parseJson(json);
    CapturedOutput output;
    UnzipAction action(object);
    EXPECT_FALSE(action.isValid()) << json;
    EXPECT_EQ(output.text(), "Fail to parse Unzip Action") << json;
  }
}

TEST(UnzipActionFields, MissingListsAreReportedButDoNotMatter) {
  rapidjson::Document object = parseJson(R"({"type":"unzip","source":"a.zip","destination":"/tmp/x"})");
  CapturedOutput output;
  UnzipAction action(object);
  EXPECT_TRUE(action.isValid());
  EXPECT_EQ(output.text(), "Field include does not found\nField exclude does not found\n");
}

TEST(UnzipActionFields, UnboundDestinationAliasThrowsFromTheConstructor) {
  rapidjson::Document object = parseJson(unzipJson("a.zip", "@nowhere-bound"));
  CapturedOutput output;
  EXPECT_THROW(UnzipAction{object}, std::runtime_error);
}

TEST_F(UnzipActionTest, SourceAliasIsResolvedOnlyWhenPerformed) {
  Outcome outcome = performUnzip(unzipJson("@not-bound.zip", out().string()));
  EXPECT_EQ(outcome.out, "Unzip archive @not-bound.zip to " + out().string() + "\n");
  EXPECT_EQ(outcome.error, "Alias does not found");
  EXPECT_FALSE(fs::exists(out()));
}

TEST_F(UnzipActionTest, SourceAliasNamesTheArchive) {
  ZipBuilder().add("a.txt", "alias").write(package());
  AliasResolver::getInstance().addAlias("@unzip-test.zip", package().string());
  Outcome outcome = performUnzip(unzipJson("@unzip-test.zip", out().string()));
  EXPECT_EQ(outcome.out, "Unzip archive @unzip-test.zip to " + out().string() + "\nOpen zip file " +
                             package().string() + "\nEntries count 1\n" + unzipLine("a.txt", 5));
  EXPECT_EQ(readFile(out() / "a.txt"), "alias");
}

// Unpacking --------------------------------------------------------------

TEST_F(UnzipActionTest, ExampleWithIncludeListNamingAnotherFile) {
  ZipBuilder().addDirectory("bin/").add("bin/tool", "#!/bin/sh\n").write(package());
  Outcome outcome = performUnzip(unzipJson(package().string(), out().string(), R"(["bin/other"])"));
  EXPECT_EQ(outcome.out, opening(2) + "Skip unzip file (not in include list)bin/tool\n");
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(treeOf(out()), std::vector<std::string>{"bin/"});
}

TEST_F(UnzipActionTest, EveryMethodAndSizeIsUnpackedExactly) {
  const std::string big = randomBytes(200000, 1);
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i % 97) + " of a text file\n";
  ZipEntrySpec noMarker = entry("lzma-no-marker.txt", text, 14);
  noMarker.lzmaEndMarker = false;
  ZipEntrySpec described = entry("descriptor.bin", big, 8);
  described.dataDescriptor = true;
  ZipBuilder()
      .add("empty", "")
      .add("stored.bin", big, 0)
      .add("deflate.txt", text, 8)
      .add("deflate-random.bin", big, 8)
      .add("deflate-empty", "", 8)
      .add("bzip2.txt", text, 12)
      .add("lzma.txt", text, 14)
      .add(noMarker)
      .add(described)
      .add("raw-method-99", "kept as stored", 99)
      .write(package());
  Outcome outcome = performUnzip(unzipJson(package().string(), out().string()));
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.out, opening(10) + unzipLine("empty", 0) + unzipLine("stored.bin", big.size()) +
                             unzipLine("deflate.txt", text.size()) + unzipLine("deflate-random.bin", big.size()) +
                             unzipLine("deflate-empty", 0) + unzipLine("bzip2.txt", text.size()) +
                             unzipLine("lzma.txt", text.size()) + unzipLine("lzma-no-marker.txt", text.size()) +
                             unzipLine("descriptor.bin", big.size()) + unzipLine("raw-method-99", 14));
  EXPECT_EQ(readFile(out() / "empty"), "");
  EXPECT_EQ(readFile(out() / "stored.bin"), big);
  EXPECT_EQ(readFile(out() / "deflate.txt"), text);
  EXPECT_EQ(readFile(out() / "deflate-random.bin"), big);
  EXPECT_EQ(readFile(out() / "deflate-empty"), "");
  EXPECT_EQ(readFile(out() / "bzip2.txt"), text);
  EXPECT_EQ(readFile(out() / "lzma.txt"), text);
  EXPECT_EQ(readFile(out() / "lzma-no-marker.txt"), text);
  EXPECT_EQ(readFile(out() / "descriptor.bin"), big);
  EXPECT_EQ(readFile(out() / "raw-method-99"), "kept as stored");
}

TEST_F(UnzipActionTest, IncludeListMatchesWholeNamesByteForByte) {
  ZipBuilder()
      .add("bin/tool", "1")
      .add("./bin/tool", "2")
      .add("bin/tool2", "3")
      .add("Bin/tool", "4")
      .add("bin/*", "5")
      .write(package());
  Outcome outcome = performUnzip(unzipJson(package().string(), out().string(), R"(["bin/tool","bin/*"])"));
  EXPECT_EQ(outcome.out, opening(5) + unzipLine("bin/tool", 1) + "Skip unzip file (not in include list)./bin/tool\n" +
                             "Skip unzip file (not in include list)bin/tool2\n" +
                             "Skip unzip file (not in include list)Bin/tool\n" + unzipLine("bin/*", 1));
  EXPECT_EQ(treeOf(out()), (std::vector<std::string>{"Bin/", "bin/", "bin/*", "bin/tool"}));
}

TEST_F(UnzipActionTest, ExcludeListWinsOverIncludeList) {
  ZipBuilder().add("a", "1").add("b", "2").add("c", "3").write(package());
  Outcome outcome = performUnzip(unzipJson(package().string(), out().string(), R"(["a","b"])", R"("b")"));
  EXPECT_EQ(outcome.out, opening(3) + unzipLine("a", 1) + "Skip unzip file (in exclude list)b\n" +
                             "Skip unzip file (not in include list)c\n");
  EXPECT_EQ(treeOf(out()), std::vector<std::string>{"a"});
}

TEST_F(UnzipActionTest, DirectoriesAndParentsOfSkippedFilesAreCreatedSilently) {
  ZipBuilder().addDirectory("empty/dir/").add("deep/er/skipped.txt", "x").add("kept/file.txt", "y").write(package());
  Outcome outcome =
      performUnzip(unzipJson(package().string(), (dir / "new/level/out").string(), "[]", R"(["deep/er/skipped.txt"])"));
  fs::path target = dir / "new/level/out";
  EXPECT_EQ(outcome.out,
            "Unzip archive " + package().string() + " to " + target.string() + "\nOpen zip file " + package().string() +
                "\nEntries count 3\n" + "Skip unzip file (in exclude list)deep/er/skipped.txt\n" +
                "Unzip file: kept/file.txt, size:1, to: \"" + (target / "kept/file.txt").string() + "\"\n");
  EXPECT_EQ(treeOf(target),
            (std::vector<std::string>{"deep/", "deep/er/", "empty/", "empty/dir/", "kept/", "kept/file.txt"}));
}

TEST_F(UnzipActionTest, ExistingFileIsReplacedAndTakesTheStoredPermissions) {
  fs::path old = dir.write("out/bin/tool", "old version, longer than the new one");
  fs::permissions(old, fs::perms(0600), fs::perm_options::replace);
  std::ifstream running(old, std::ios::binary);  // like a program still running from it
  ZipBuilder()
      .add(entry("bin/tool", "new", 8, unixAttributes(0100755)))
      .add(entry("bin/readonly", "ro", 0, unixAttributes(0100444)))
      .add(entry("bin/private", "pv", 0, unixAttributes(0100600)))
      .write(package());
  Outcome outcome = performUnzip(unzipJson(package().string(), out().string()));
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(readFile(out() / "bin/tool"), "new");
  EXPECT_EQ(modeOf(out() / "bin/tool") & 07777, 0755u);
  EXPECT_EQ(modeOf(out() / "bin/readonly") & 07777, 0444u);
  EXPECT_EQ(readFile(out() / "bin/readonly"), "ro");
  EXPECT_EQ(modeOf(out() / "bin/private") & 07777, 0600u);
  std::string seen((std::istreambuf_iterator<char>(running)), std::istreambuf_iterator<char>());
  EXPECT_EQ(seen, "old version, longer than the new one");
  EXPECT_EQ(treeOf(out()), (std::vector<std::string>{"bin/", "bin/private", "bin/readonly", "bin/tool"}));
}

TEST_F(UnzipActionTest, EntryWithoutPermissionBitsGetsTheModeOfANewFile) {
  ZipBuilder()
      .add(entry("dos", "a", 0, 0x20))
      .add(entry("zero", "b", 0, 0))
      .add(entry("type-only", "c", 0, unixAttributes(0100000)))
      .write(package());
  mode_t saved = ::umask(027);
  Outcome outcome = performUnzip(unzipJson(package().string(), out().string()));
  ::umask(saved);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(modeOf(out() / "dos") & 07777, 0640u);
  EXPECT_EQ(modeOf(out() / "zero") & 07777, 0640u);
  EXPECT_EQ(modeOf(out() / "type-only") & 07777, 0640u);
}

TEST_F(UnzipActionTest, EncryptedEntryIsListedThenSkippedWithoutAFile) {
  ZipEntrySpec secret = entry("secret.txt", "classified", 8);
  secret.password = "pw";
  ZipBuilder().add(secret).add("after.txt", "next").write(package());
  Outcome outcome = performUnzip(unzipJson(package().string(), out().string()));
  EXPECT_EQ(outcome.out, opening(2) + unzipLine("secret.txt", 10) + unzipLine("after.txt", 4));
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(treeOf(out()), std::vector<std::string>{"after.txt"});
}

TEST_F(UnzipActionTest, MissingSourceIsCreatedEmptyAndNothingIsUnpacked) {
  Outcome outcome = performUnzip(unzipJson(package().string(), out().string()));
  EXPECT_EQ(outcome.out, opening(0));
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(fs::file_size(package()), 0u);
  EXPECT_TRUE(fs::is_directory(out()));
  EXPECT_TRUE(fs::is_empty(out()));
}

TEST_F(UnzipActionTest, ArchiveWithoutEntriesUnpacksNothing) {
  ZipBuilder().write(package());
  Outcome outcome = performUnzip(unzipJson(package().string(), out().string()));
  EXPECT_EQ(outcome.out, opening(0));
  EXPECT_EQ(outcome.error, "");
}

}  // namespace
