// The selection of the file actions in-process on real trees; the copy and
// remove tests run it end to end, with exclusions inside directories and
// through links.
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

}  // namespace

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
