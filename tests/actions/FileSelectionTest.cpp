// The selection of the file actions: expansion of directories around
// exclusions, suffixes, the final filter and the three log sections, run
// in-process on real trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "actions/ActionTestHelpers.h"
#include "actions/FileActionsHarness.h"
#include "actions/QuotedPath.h"
#include "driver/AliasResolver.h"
#include "support/TempDir.h"

using namespace file_actions_test;
using testing_support::TempDir;

namespace {

// What the probe prints and selects for the action object `objectJson`.
struct Selection {
  std::string log;
  FilesActionInterface::FileList pairs;
};

Selection selectWith(const std::string& objectJson) {
  SelectionProbe probe = [&] {
    action_testing::CapturedOutput fields;
    return makeProbe(objectJson);
  }();
  action_testing::CapturedOutput capture;
  Selection selection;
  selection.pairs = probe.getResultFileList();
  selection.log = capture.text();
  return selection;
}

std::string action(const std::string& include, const std::string& exclude, bool recursive = false) {
  return "{\"include\": " + include + ", \"exclude\": " + exclude + (recursive ? ", \"recursive\": true}" : "}");
}

// The entries of `directory` in listing order, each with `suffix`, leaving
// out the names in `skip`.
Pairs entriesOf(const fs::path& directory, const fs::path& suffix, const std::vector<std::string>& skip = {}) {
  Pairs pairs;
  for (const std::string& name : listing(directory)) {
    if (std::find(skip.begin(), skip.end(), name) == skip.end()) pairs.emplace_back(directory / name, suffix);
  }
  return pairs;
}

Pairs concat(Pairs first, const Pairs& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

Pairs asPairs(const FilesActionInterface::FileList& list) { return Pairs(list.begin(), list.end()); }

}  // namespace

TEST(QuotedPath, WritesPathsAsStdQuotedDoes) {
  EXPECT_EQ(quotedPath("/opt/app/Tool.app"), "\"/opt/app/Tool.app\"");
  EXPECT_EQ(quotedPath(""), "\"\"");
  EXPECT_EQ(quotedPath("/a/say \"hi\"/b\\c"), "\"/a/say \\\"hi\\\"/b\\\\c\"");
}

TEST(FileSelection, ExclusionTwoLevelsDownKeepsSiblingsWhole) {
  TempDir dir;
  dir.write("top/a.txt", "a");
  dir.write("top/other/x.txt", "x");
  dir.write("top/sub/keep.txt", "k");
  dir.write("top/sub/drop.txt", "d");
  dir.write("top/sub/deeper/y.txt", "y");
  const fs::path top = dir / "top";

  Selection s = selectWith(action(jsonList({top}), jsonList({top / "sub/keep.txt"})));

  const Pairs firstLevel = entriesOf(top, "top", {"sub"});
  const Pairs secondLevel = entriesOf(top / "sub", "top/sub");
  const Pairs kept = entriesOf(top / "sub", "top/sub", {"keep.txt"});
  EXPECT_EQ(s.log, selectionLog(concat(firstLevel, secondLevel), {top / "sub/keep.txt"}, concat(firstLevel, kept)));
}

TEST(FileSelection, IncludeEqualToExclusionIsListedButDropped) {
  TempDir dir;
  const fs::path a = dir.write("a.txt", "a");
  const fs::path b = dir.write("b.txt", "b");

  Selection s = selectWith(action(jsonList({a, b}), json(a)));

  EXPECT_EQ(s.log, selectionLog({{a, ""}, {b, ""}}, {a}, {{b, ""}}));
}

TEST(FileSelection, DuplicatesAreKept) {
  TempDir dir;
  const fs::path f = dir.write("f.txt", "f");

  Selection s = selectWith(action(jsonList({f, f}), "[]"));

  EXPECT_EQ(s.log, selectionLog({{f, ""}, {f, ""}}, {}, {{f, ""}, {f, ""}}));
}

TEST(FileSelection, DuplicateDirectoriesAreEachOpenedUp) {
  TempDir dir;
  const fs::path keep = dir.write("d/keep", "k");
  const fs::path other = dir.write("d/other", "o");

  Selection s = selectWith(action(jsonList({dir / "d", dir / "d"}), json(keep)));

  EXPECT_EQ(asPairs(s.pairs), (Pairs{{other, "d"}, {other, "d"}}));
}

TEST(FileSelection, ExclusionOutsideEveryCandidateIsOnlyListed) {
  TempDir dir;
  dir.write("d/f", "f");
  const fs::path elsewhere = dir.write("e/g", "g");

  Selection s = selectWith(action(json(dir / "d"), json(elsewhere)));

  EXPECT_EQ(s.log, selectionLog({{dir / "d", ""}}, {elsewhere}, {{dir / "d", ""}}));
}

TEST(FileSelection, EmptyIncludeWritesHeadingsOnly) {
  Selection s = selectWith(action("[]", "[]"));
  EXPECT_EQ(s.log, "\nInclude list: \n\nExclude list: \n\nResult list: \n");
  EXPECT_TRUE(s.pairs.empty());
}

TEST(FileSelection, RecursiveFlagAlsoExpandsExclusionsRecursively) {
  TempDir dir;
  dir.write("d/s/b.log", "b");
  dir.write("d/s/t/c.log", "c");
  const fs::path inner = dir.write("d/s/t/keep.txt", "k");
  const fs::path pattern = dir / "d/**/*.log";

  Selection flat = selectWith(action(json(dir / "d/s/t"), json(pattern)));
  EXPECT_EQ(asPairs(flat.pairs), (Pairs{{dir / "d/s/t", ""}}));

  Selection deep = selectWith(action(json(dir / "d/s/t"), json(pattern), true));
  EXPECT_EQ(asPairs(deep.pairs), (Pairs{{inner, "t"}}));
}

TEST(FileSelection, DotEntriesOfOpenedDirectoryAreSelected) {
  TempDir dir;
  dir.write("d/keep", "k");
  const fs::path hidden = dir.write("d/.hidden", "h");

  Selection s = selectWith(action(json(dir / "d"), json(dir / "d/keep")));

  EXPECT_EQ(asPairs(s.pairs), (Pairs{{hidden, "d"}}));
}

TEST(FileSelection, PathsWithQuotesAndBackslashesAreEscaped) {
  TempDir dir;
  dir.write("we\"ird\\name/keep", "k");
  const fs::path other = dir.write("we\"ird\\name/other", "o");

  Selection s = selectWith(action(json(dir / "we\"ird\\name"), json(dir / "we\"ird\\name/keep")));

  const std::string root = dir.path().string();
  EXPECT_NE(s.log.find("file=\"" + root + "/we\\\"ird\\\\name/other\", suffix=\"we\\\"ird\\\\name\"\n"),
            std::string::npos)
      << s.log;
  EXPECT_EQ(asPairs(s.pairs), (Pairs{{other, "we\"ird\\name"}}));
}

TEST(FileSelection, IncludeThroughLinkIsWorkedInCanonicalForm) {
  TempDir dir;
  dir.write("real/Tool.app/keep", "k");
  const fs::path other = dir.write("real/Tool.app/other", "o");
  fs::create_directory_symlink(dir / "real", dir / "linked");

  Selection s = selectWith(action(json(dir / "linked/Tool.app"), json(dir / "linked/Tool.app/keep")));

  EXPECT_EQ(s.log, selectionLog(entriesOf(dir / "real/Tool.app", "Tool.app"), {dir / "real/Tool.app/keep"},
                                {{other, "Tool.app"}}));
}

TEST(FileSelection, EntriesRememberHowTheyWereReached) {
  TempDir dir;
  dir.write("app/keep", "k");
  dir.write("outside/data/file", "precious");
  fs::create_directory_symlink(dir / "outside/data", dir / "app/docs");

  SelectionProbe probe = makeProbe(action(json(dir / "app"), json(dir / "app/keep")));
  action_testing::CapturedOutput capture;
  std::vector<SelectedFile> entries = probe.entries();

  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].file, dir / "outside/data");
  EXPECT_EQ(entries[0].reached, dir / "app/docs");
  EXPECT_EQ(entries[0].suffix, "app");
  EXPECT_FALSE(entries[0].throughLink);
}

TEST(FileSelection, EntriesBehindAnOpenedLinkAreMarked) {
  TempDir dir;
  dir.write("outside/data/keep", "k");
  dir.write("outside/data/file", "f");
  dir.mkdir("app");
  fs::create_directory_symlink(dir / "outside/data", dir / "app/docs");

  SelectionProbe probe = makeProbe(action(json(dir / "app/docs"), json(dir / "app/docs/keep")));
  action_testing::CapturedOutput capture;
  std::vector<SelectedFile> entries = probe.entries();

  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].file, dir / "outside/data/file");
  EXPECT_EQ(entries[0].suffix, "data");
  EXPECT_TRUE(entries[0].throughLink);
}

TEST(FileSelection, LinkBackToAnOpenedDirectoryEndsTheExpansion) {
  TempDir dir;
  dir.write("top/sub/keep", "k");
  const fs::path other = dir.write("top/sub/other", "o");
  fs::create_directory_symlink(dir / "top", dir / "top/sub/loop");

  Selection s = selectWith(action(json(dir / "top"), json(dir / "top/sub/keep")));

  // The loop leads into the directory being opened up, whose entries are
  // selected already; it is neither listed nor selected.
  EXPECT_EQ(s.log, selectionLog(entriesOf(dir / "top/sub", "top/sub", {"loop"}), {dir / "top/sub/keep"},
                                {{other, "top/sub"}}));
}

TEST(FileSelection, DanglingEntryOfOpenedDirectoryThrowsBeforeAnyLog) {
  TempDir dir;
  dir.write("d/keep", "k");
  fs::create_symlink(dir / "nowhere", dir / "d/dangling");
  SelectionProbe probe = makeProbe(action(json(dir / "d"), json(dir / "d/keep")));
  action_testing::CapturedOutput capture;
  EXPECT_THROW(probe.getResultFileList(), fs::filesystem_error);
  EXPECT_EQ(capture.text(), "");
}

TEST(FileActionFields, BothListMessagesForOneAction) {
  action_testing::CapturedOutput capture;
  SelectionProbe missing = makeProbe("{}");
  SelectionProbe malformed = makeProbe("{\"include\": [\"/a\", 5], \"exclude\": 7}");
  SelectionProbe badExclude = makeProbe("{\"include\": \"/a\", \"exclude\": [true]}");
  EXPECT_EQ(capture.text(),
            "Field include does not found\nField exclude does not found\n"
            "Field include array has invalid items type\nField exclude has invalid type\n"
            "Field exclude array has invalid items type\n");
  EXPECT_FALSE(missing.isValid());
  EXPECT_FALSE(malformed.isValid());
  EXPECT_TRUE(badExclude.isValid());
}

TEST(FileActionFields, InvalidIncludeSelectsNothingButStillLogs) {
  TempDir dir;
  const fs::path f = dir.write("f", "f");
  Selection s = selectWith("{\"include\": 3, \"exclude\": " + json(f) + "}");
  EXPECT_EQ(s.log, selectionLog({}, {f}, {}));
}

TEST(FileActionFields, UnboundAliasLeavesTheConstructor) {
  action_testing::CapturedOutput capture;
  try {
    makeProbe("{\"include\": [\"@nowhere.zip\"], \"exclude\": []}");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Alias does not found");
  }
}
