// The unzip action in-process: its lines, the tree it leaves and the
// failures that end it, on packages made for each case.
#include <algorithm>

#include "actions/ActionTestSupport.h"
#include "actions/UnzipAction.h"

using namespace action_testing;
using testing_support::makeEntry;
using testing_support::ZipEntrySpec;
using Names = std::vector<std::string>;

namespace {

ZipEntrySpec item(const std::string& name, const std::string& data, uint16_t method = 0,
                  std::optional<uint32_t> attributes = std::nullopt) {
  ZipEntrySpec entry = makeEntry(name, data, method);
  entry.externalAttributes = attributes;
  return entry;
}
ZipEntrySpec link(const std::string& name, const std::string& text) { return item(name, text, 0, 0120777u << 16); }

std::string outside(const std::string& name) { return "Skip unzip file (outside destination)" + name + "\n"; }

class UnzipActionTest : public ::testing::Test {
 protected:
  OutputAndError unzip() const {
    rapidjson::Document object = parseJson(R"({"type":"unzip","source":")" + package().string() +
                                           R"(","destination":")" + out().string() + R"(","include":[],"exclude":[]})");
    return outputAndError([&] { UnzipAction(object).perform(); });
  }
  void pack(const std::vector<ZipEntrySpec>& entries) const {
    ZipBuilder builder;
    for (const ZipEntrySpec& entry : entries) builder.add(entry);
    builder.write(package());
  }

  fs::path package() const { return dir / "package.zip"; }
  fs::path out() const { return dir / "out"; }
  std::string opening(size_t entries) const {
    return "Unzip archive " + package().string() + " to " + out().string() + "\nOpen zip file " + package().string() +
           "\nEntries count " + std::to_string(entries) + "\n";
  }
  std::string line(const std::string& name, size_t size) const {
    return "Unzip file: " + name + ", size:" + std::to_string(size) + ", to: " + q(out() / name) + "\n";
  }
  // Every name in the test directory, relative and sorted, links marked.
  Names tree() const {
    Names names;
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

TEST_F(UnzipActionTest, NamesClimbingOutOrExistingLinksLeadingOutAreSkipped) {
  fs::path victim = dir.write("elsewhere/victim.txt", "keep me");
  fs::create_directories(out());
  fs::create_symlink(dir / "elsewhere", out() / "escape");
  fs::create_symlink("../elsewhere", out() / "escape2");
  fs::create_symlink(victim, out() / "file.txt");
  pack({item("../evil.txt", "1"), item("a/../../evil2.txt", "2"), item("..\\evil3.txt", "3"), item("../evil-dir/", ""),
        item("../evil-dir/x/skipped-too", "4"), item("a/..", "5"), item("ok/../fine.txt", "6"),
        item("/abs/olute.txt", "7"), item("escape/file", "8"), item("escape/sub/", ""),
        item("escape2/deeper/file", "9"), item("file.txt", "replaced")});
  OutputAndError outcome = unzip();
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.out, opening(12) + outside("../evil.txt") + outside("a/../../evil2.txt") + outside("../evil3.txt") +
                             outside("../evil-dir/") + outside("../evil-dir/x/skipped-too") + outside("a/..") +
                             line("ok/../fine.txt", 1) + line("abs/olute.txt", 1) + outside("escape/file") +
                             outside("escape/sub/") + outside("escape2/deeper/file") + line("file.txt", 8));
  EXPECT_EQ(readFile(out() / "file.txt"), "replaced");
  EXPECT_EQ(tree(), (Names{"elsewhere", "elsewhere/victim.txt", "out", "out/abs", "out/abs/olute.txt",
                           "out/escape -> " + (dir / "elsewhere").string(), "out/escape2 -> ../elsewhere",
                           "out/file.txt", "out/fine.txt", "package.zip"}));
}

TEST_F(UnzipActionTest, LinkEntriesAreRestoredOnlyWhenTheyStayInside) {
  dir.write("out/bin/tool", "old file where the link goes");
  // Climbs out through a level that does not exist yet (a later entry could make it).
  fs::create_symlink("missing/../../elsewhere", out() / "esc");
  const std::string outsideText = (dir / "elsewhere").string();
  pack({item("lib/tool-1.0", "#!/bin/sh\n"), link("bin/tool", "../lib/tool-1.0"), link("current", "lib"),
        item("current/added.txt", "via link"), link("abs", outsideText), link("sub/up", "../.."), link("self", "."),
        link("trick", "self/.."), item("trick/planted", "2"), link("later", "esc/x")});
  OutputAndError outcome = unzip();
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.out, opening(10) + line("lib/tool-1.0", 10) + line("bin/tool", 15) + line("current", 3) +
                             line("current/added.txt", 8) + line("abs", outsideText.size()) + outside("abs") +
                             line("sub/up", 5) + outside("sub/up") + line("self", 1) + line("trick", 7) +
                             outside("trick") + line("trick/planted", 1) + line("later", 5) + outside("later"));
  EXPECT_EQ(readFile(out() / "bin/tool"), "#!/bin/sh\n");
  EXPECT_EQ(tree(), (Names{"out", "out/bin", "out/bin/tool -> ../lib/tool-1.0", "out/current -> lib",
                           "out/esc -> missing/../../elsewhere", "out/lib", "out/lib/added.txt", "out/lib/tool-1.0",
                           "out/self -> .", "out/sub", "out/trick", "out/trick/planted", "package.zip"}));
}

// Each write is placed by where the links lead at that moment: "x" leads to
// the root while "y" is "sub", and above the root once "y" is ".".
TEST_F(UnzipActionTest, LinksReplacedByLaterEntriesAreFollowedAsTheyAreThen) {
  pack({item("sub/", ""), link("y", "sub"), link("x", "y/.."), item("x/f", "f"), link("y", "."),
        item("x/evil", "evil")});
  OutputAndError outcome = unzip();
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.out, opening(6) + line("y", 3) + line("x", 4) + line("x/f", 1) + line("y", 1) + outside("x/evil"));
  EXPECT_EQ(tree(), (Names{"out", "out/f", "out/sub", "out/x -> y/..", "out/y -> .", "package.zip"}));
}

TEST_F(UnzipActionTest, DamagedDataEndsTheRunAndKeepsTheOldFile) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "row " + std::to_string(i) + "\n";
  struct Case {
    uint16_t method;
    size_t field;  // offset in the central header of the value to patch, 0: garble the data, 1: none
    uint32_t value;
    std::string error;  // after "Archive entry app "
  } cases[] = {
      {8, 16, 0x12345678, "is corrupt: CRC-32 mismatch"},
      {8, 24, 60000, "is corrupt: " + std::to_string(text.size()) + " of 60000 bytes"},
      {0, 24, 1000, "is corrupt: more than 1000 bytes"},
      {8, 0, 0, "is corrupt: "},
      {9, 1, 0, "uses compression method 9, which the updater cannot read"},
  };
  dir.write("out/app", "old working version");
  for (const Case& c : cases) {
    ZipBuilder builder;
    builder.add("before.txt", "b").add("app", text, c.method).add("after.txt", "a");
    std::string bytes = builder.bytes();
    if (c.field > 1) {
      patch(bytes, builder.centralHeaderOffset(1) + c.field, c.value);
    } else if (c.field == 0) {
      size_t middle = (builder.localHeaderOffset(1) + builder.localHeaderOffset(2)) / 2;
      for (size_t i = middle; i < middle + 64; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    }
    dir.write("package.zip", bytes);
    OutputAndError outcome = unzip();
    EXPECT_EQ(outcome.error.rfind("Archive entry app " + c.error, 0), 0u) << outcome.error;
    const size_t declared = c.field == 24 ? c.value : text.size();
    EXPECT_EQ(outcome.out, opening(3) + line("before.txt", 1) + line("app", declared));
    EXPECT_EQ(readFile(out() / "app"), "old working version");
    EXPECT_EQ(tree(), (Names{"out", "out/app", "out/before.txt", "package.zip"}));
  }
}

TEST_F(UnzipActionTest, TruncatedOrForeignArchiveIsNotTakenForAnEmptyOne) {
  std::string bytes = ZipBuilder().add("a.txt", std::string(3000, 'a'), 8).add("b.txt", "b").bytes();
  for (const std::string& content : {bytes.substr(0, bytes.size() / 2), std::string("PK")}) {
    dir.write("package.zip", content);
    OutputAndError outcome = unzip();
    EXPECT_EQ(outcome.error, "Not a ZIP archive: " + package().string());
    EXPECT_EQ(outcome.out, "Unzip archive " + package().string() + " to " + out().string() + "\nOpen zip file " +
                               package().string() + "\n");
  }
  EXPECT_EQ(tree(), (Names{"out", "package.zip"}));
}

TEST_F(UnzipActionTest, UnusableSourceDestinationOrTargetEndsTheRunIntact) {
  dir.write("out/lib", "a file");
  ZipBuilder().add("lib/x.so", "x").write(package());
  EXPECT_NE(unzip().error.find("[" + (out() / "lib").string() + "]"), std::string::npos);
  dir.write("out/app/keep.txt", "kept");
  for (const ZipEntrySpec& entry : {item("app", "would replace a directory"), link("app", "lib")}) {
    ZipBuilder().add(entry).write(package());
    EXPECT_NE(unzip().error.find("Is a directory [" + (out() / "app").string() + "]"), std::string::npos);
  }
  ZipBuilder().add(link("long", std::string(5000, 'x'))).write(package());
  EXPECT_EQ(unzip().error, "Archive entry long is corrupt: symbolic link text longer than 4095 bytes");
  EXPECT_EQ(tree(), (Names{"out", "out/app", "out/app/keep.txt", "out/lib", "package.zip"}));
}

}  // namespace
