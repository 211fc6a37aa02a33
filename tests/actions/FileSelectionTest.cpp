// The selection of the file actions: expansion of directories around
// exclusions, suffixes, links and the three log sections, run in-process on
// real trees.
#include <algorithm>

#include "actions/ActionTestSupport.h"
#include "actions/FilesActionInterface.h"

using namespace action_testing;

namespace {

// A file action that only selects.
class SelectionProbe final : public FilesActionInterface {
 public:
  explicit SelectionProbe(const rapidjson::Value& object) : FilesActionInterface(object) { valid = includeValid; }
  void perform() override {}
  std::vector<SelectedFile> entries() const { return selectFiles(); }
};

SelectionProbe probe(const std::string& objectJson) {
  rapidjson::Document document = parseJson(objectJson);
  return SelectionProbe(document);
}

std::string action(const std::string& include, const std::string& exclude, bool recursive = false) {
  return "{\"include\": " + include + ", \"exclude\": " + exclude + (recursive ? ", \"recursive\": true}" : "}");
}

struct Selection {
  std::string log;
  Pairs pairs;
};

Selection selectWith(const std::string& objectJson) {
  SelectionProbe selection = [&] {
    CapturedOutput fieldMessages;
    return probe(objectJson);
  }();
  CapturedOutput capture;
  FilesActionInterface::FileList list = selection.getResultFileList();
  return {capture.text(), Pairs(list.begin(), list.end())};
}

// The entries of `directory` in listing order with `suffix`, leaving out `skip`.
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

}  // namespace

TEST(FileSelection, ExclusionTwoLevelsDownKeepsSiblingsWhole) {
  TempDir dir;
  dir.write("top/a.txt", "a");
  dir.write("top/other/x.txt", "x");
  dir.write("top/sub/keep.txt", "k");
  dir.write("top/sub/.hidden", "h");
  dir.write("top/sub/deeper/y.txt", "y");
  const fs::path top = dir / "top";
  const Pairs firstLevel = entriesOf(top, "top", {"sub"});
  EXPECT_EQ(selectWith(action(jsonList({top}), jsonList({top / "sub/keep.txt"}))).log,
            selectionLog(concat(firstLevel, entriesOf(top / "sub", "top/sub")), {top / "sub/keep.txt"},
                         concat(firstLevel, entriesOf(top / "sub", "top/sub", {"keep.txt"}))));
}

TEST(FileSelection, ListedExclusionsDuplicatesAndInvalidInclude) {
  TempDir dir;
  const fs::path a = dir.write("a.txt", "a"), b = dir.write("b.txt", "b");
  const fs::path keep = dir.write("d/keep", "k"), other = dir.write("d/other", "o");
  const fs::path elsewhere = dir.write("e/g", "g");
  // An include equal to an exclusion is listed but dropped.
  EXPECT_EQ(selectWith(action(jsonList({a, b}), json(a))).log, selectionLog({{a, ""}, {b, ""}}, {a}, {{b, ""}}));
  // Duplicates are kept, and duplicate directories are each opened up.
  EXPECT_EQ(selectWith(action(jsonList({a, a}), "[]")).log, selectionLog({{a, ""}, {a, ""}}));
  EXPECT_EQ(selectWith(action(jsonList({dir / "d", dir / "d"}), json(keep))).pairs,
            (Pairs{{other, "d"}, {other, "d"}}));
  // An exclusion outside every candidate is only listed.
  EXPECT_EQ(selectWith(action(json(dir / "d"), json(elsewhere))).log,
            selectionLog({{dir / "d", ""}}, {elsewhere}, {{dir / "d", ""}}));
  // An invalid include selects nothing but the log is still written.
  EXPECT_EQ(selectWith("{\"include\": 3, \"exclude\": " + json(a) + "}").log, selectionLog({}, {a}, {}));
}

TEST(FileSelection, RecursiveFlagAlsoExpandsExclusionsRecursively) {
  TempDir dir;
  dir.write("d/s/b.log", "b");
  dir.write("d/s/t/c.log", "c");
  const fs::path inner = dir.write("d/s/t/keep.txt", "k");
  const fs::path pattern = dir / "d/**/*.log";
  EXPECT_EQ(selectWith(action(json(dir / "d/s/t"), json(pattern))).pairs, (Pairs{{dir / "d/s/t", ""}}));
  EXPECT_EQ(selectWith(action(json(dir / "d/s/t"), json(pattern), true)).pairs, (Pairs{{inner, "t"}}));
}

TEST(FileSelection, PathsWithQuotesAndBackslashesAreEscaped) {
  TempDir dir;
  dir.write("we\"ird\\name/keep", "k");
  const fs::path other = dir.write("we\"ird\\name/other", "o");
  Selection s = selectWith(action(json(dir / "we\"ird\\name"), json(dir / "we\"ird\\name/keep")));
  EXPECT_NE(s.log.find("file=\"" + dir.path().string() + "/we\\\"ird\\\\name/other\", suffix=\"we\\\"ird\\\\name\"\n"),
            std::string::npos)
      << s.log;
  EXPECT_EQ(s.pairs, (Pairs{{other, "we\"ird\\name"}}));
}

TEST(FileSelection, IncludeThroughLinkIsWorkedInCanonicalForm) {
  TempDir dir;
  dir.write("real/Tool.app/keep", "k");
  const fs::path other = dir.write("real/Tool.app/other", "o");
  fs::create_directory_symlink(dir / "real", dir / "linked");
  EXPECT_EQ(
      selectWith(action(json(dir / "linked/Tool.app"), json(dir / "linked/Tool.app/keep"))).log,
      selectionLog(entriesOf(dir / "real/Tool.app", "Tool.app"), {dir / "real/Tool.app/keep"}, {{other, "Tool.app"}}));
}

TEST(FileSelection, EntriesRememberHowTheyWereReached) {
  TempDir dir;
  dir.write("app/keep", "k");
  dir.write("outside/data/keep", "k");
  dir.write("outside/data/file", "f");
  fs::create_directory_symlink(dir / "outside/data", dir / "app/docs");
  CapturedOutput capture;
  // A link found in an opened directory: its target, reached through it.
  std::vector<SelectedFile> entries = probe(action(json(dir / "app"), json(dir / "app/keep"))).entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].file, dir / "outside/data");
  EXPECT_EQ(entries[0].reached, dir / "app/docs");
  EXPECT_EQ(entries[0].suffix, "app");
  EXPECT_FALSE(entries[0].throughLink);
  // Entries of a directory opened through a link are marked.
  entries = probe(action(json(dir / "app/docs"), json(dir / "app/docs/keep"))).entries();
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
  // The loop leads into a directory whose entries are selected already.
  EXPECT_EQ(
      selectWith(action(json(dir / "top"), json(dir / "top/sub/keep"))).log,
      selectionLog(entriesOf(dir / "top/sub", "top/sub", {"loop"}), {dir / "top/sub/keep"}, {{other, "top/sub"}}));
}

TEST(FileSelection, ListFieldMessages) {
  CapturedOutput capture;
  EXPECT_FALSE(probe("{}").isValid());
  EXPECT_FALSE(probe("{\"include\": [\"/a\", 5], \"exclude\": 7}").isValid());
  EXPECT_FALSE(probe("{\"include\": {}, \"exclude\": []}").isValid());
  EXPECT_TRUE(probe("{\"include\": \"/a\", \"exclude\": [true]}").isValid());
  EXPECT_EQ(capture.text(),
            "Field include does not found\nField exclude does not found\n"
            "Field include array has invalid items type\nField exclude has invalid type\n"
            "Field include has invalid type\nField exclude array has invalid items type\n");
}
