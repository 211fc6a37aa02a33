// The remove and rename actions through the updater's driver: exact output, exit
// status and what is left on disk, including symbolic links that must never
// lead the removal outside what was selected.
#include "actions/ActionTestSupport.h"

using namespace action_testing;

namespace {

std::string removeAction(const std::string& include, const std::string& exclude, const std::string& extra = "") {
  return "{\"type\": \"remove\", \"description\": \"Clean up\", \"include\": " + include + ", \"exclude\": " + exclude +
         extra + "}";
}

std::string removeLine(const fs::path& path) { return "Remove file or directory " + q(path) + "\n"; }

std::string renameAction(const std::string& from, const std::string& to) {
  return "{\"type\": \"rename\", \"description\": \"Move\", \"from\": " + from + ", \"to\": " + to + "}";
}

const std::string kStart = header("update.zip") + announce("Clean up");

// A directory `dir`/home/Documents holding letter.txt, and a link to it at `dir`/`link`.
fs::path documentsLinkedFrom(const TempDir& dir, const std::string& link) {
  const fs::path data = dir.write("home/Documents/letter.txt", "precious").parent_path();
  fs::create_directories((dir / link).parent_path());
  fs::create_directory_symlink(data, dir / link);
  return data;
}

}  // namespace

TEST(RemoveAction, LinksAreRemovedNeverTheirTargets) {
  TempDir dir;
  // A link found in an opened directory.
  const fs::path keep = dir.write("app/Support/keep.db", "keep"), support = dir / "app/Support";
  const fs::path data = documentsLinkedFrom(dir, "app/Support/Documents");
  Pairs included, result;
  std::string removals;
  for (const std::string& name : listing(support)) {
    const fs::path canonical = name == "Documents" ? data : support / name;
    included.emplace_back(canonical, "Support");
    if (name == "keep.db") continue;
    result.emplace_back(canonical, "Support");
    removals += removeLine(support / name);
  }
  RunResult run = runActions(dir, removeAction(json(support), json(keep)));
  EXPECT_EQ(run.out, kStart + selectionLog(included, {keep}, result) + removals);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(data / "letter.txt"), "precious");
  EXPECT_EQ(listing(support), std::vector<std::string>{"keep.db"});

  // A link named in the include list; then a path through it, which after
  // its removal leads nowhere although its canonical form still exists.
  fs::create_directory_symlink(data, dir / "docs");
  run = runActions(dir, removeAction(jsonList({dir / "docs", dir / "docs/letter.txt"}), "[]"));
  EXPECT_EQ(run.out, kStart + selectionLog({{data, ""}, {data / "letter.txt", ""}}) + removeLine(dir / "docs") +
                         removeLine(dir / "docs/letter.txt"));
  EXPECT_EQ(readFile(data / "letter.txt"), "precious");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "docs")));
}

TEST(RemoveAction, LinkOpenedUpByAnExclusionLeavesItsTargetAlone) {
  TempDir dir;
  const fs::path data = documentsLinkedFrom(dir, "app/docs");
  dir.write("home/Documents/keep.txt", "keep");
  RunResult run = runActions(dir, removeAction(json(dir / "app/docs"), json(dir / "app/docs/keep.txt")));
  Pairs included, result;
  for (const std::string& name : listing(data)) {
    included.emplace_back(data / name, "Documents");
    if (name != "keep.txt") result.emplace_back(data / name, "Documents");
  }
  EXPECT_EQ(run.out, kStart + selectionLog(included, {data / "keep.txt"}, result));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(data / "letter.txt"), "precious");
  EXPECT_TRUE(fs::is_symlink(dir / "app/docs"));
}

TEST(RenameAction, RenamesLiterallyReplacingFilesAndEmptyDirectories) {
  TempDir dir;
  dir.write("old name.txt", "content");
  dir.write("@update.zip", "not the package");
  dir.write("a.txt", "new");
  dir.write("b.txt", "old");
  dir.write("d1/f", "f");
  dir.mkdir("d2");
  const std::string a = (dir / "a.txt").string(), b = (dir / "b.txt").string();
  const std::string d1 = (dir / "d1").string(), d2 = (dir / "d2").string();
  RunResult run = runActions(dir, renameAction("\"old name.txt\"", "\"new name.txt\"") + ", " +
                                      renameAction("\"@update.zip\"", "\"x.zip\"") + ", " +
                                      renameAction(json(a), json(b)) + ", " + renameAction(json(d1), json(d2)));
  EXPECT_EQ(run.out, header("update.zip") + announce("Move") + "Rename old name.txt to new name.txt\n" +
                         announce("Move") + "Rename @update.zip to x.zip\n" + announce("Move") + "Rename " + a +
                         " to " + b + "\n" + announce("Move") + "Rename " + d1 + " to " + d2 + "\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(dir / "new name.txt"), "content");
  EXPECT_EQ(readFile(dir / "x.zip"), "not the package");
  EXPECT_EQ(readFile(dir / "update.zip").substr(0, 2), "PK");
  EXPECT_EQ(readFile(b), "new");
  EXPECT_EQ(readFile(dir / "d2/f"), "f");
  EXPECT_FALSE(fs::exists(d1));
}

TEST(RenameAction, MissingSourceEndsTheRun) {
  TempDir dir;
  RunResult run = runActions(dir, renameAction("\"missing\"", "\"x\""));
  expectFailureAfter(run.out, header("update.zip") + announce("Move") + "Rename missing to x\n", "missing");
  EXPECT_EQ(run.status, 2);
}

// Components longer than any name match nothing and compile nothing (the
// expression compiler would exhaust the stack); runs of stars count once;
// more levels than any path can have are not expanded (each level of the
// expansion held a copy of the pattern: quadratic memory).
TEST(RemoveAction, OverlongPatternComponentsEndNormally) {
  std::string levels;
  for (int i = 0; i < 100000; ++i) levels += "*/";
  TempDir dir;
  const fs::path x = dir.write("d/x", "x");
  dir.write("d/y", "y");
  RunResult run =
      runActions(dir, removeAction("[\"d/" + std::string(100000, '?') + "\", \"" + std::string(1000000, 'a') +
                                       "*\", \"d/" + std::string(100000, '*') + "x\", \"d/" + levels + "x\"]",
                                   "[]"));
  EXPECT_EQ(run.out, kStart + selectionLog({{x, ""}}) + removeLine(x));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(listing(dir / "d"), std::vector<std::string>{"y"});
}

// A link found by a relative pattern is named by its own name: named after
// its target it was sub/g, an unrelated file, or a path that does not exist.
TEST(RemoveAction, RelativePatternsNameLinksByTheirOwnNames) {
  TempDir dir;
  const fs::path g = dir.write("deep/g", "target"), a = dir.write("deep/a", "target");
  const fs::path unrelated = dir.write("sub/g", "unrelated");
  fs::create_symlink("../deep/g", dir / "sub/lg");
  fs::create_symlink("../deep/a", dir / "sub/la");
  Pairs included, result;
  std::string removals;
  for (const std::string& name : listing(dir / "sub")) {
    const fs::path canonical = name == "lg" ? g : name == "la" ? a : unrelated;
    included.emplace_back(canonical, "");
    if (name == "g") continue;
    result.emplace_back(canonical, "");
    removals += removeLine(dir / "sub" / name);
  }
  RunResult run = runActions(dir, removeAction("\"sub/*\"", "\"sub/g\""));
  EXPECT_EQ(run.out, kStart + selectionLog(included, {unrelated}, result) + removals);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(listing(dir / "sub"), std::vector<std::string>{"g"});
  EXPECT_EQ(readFile(g) + readFile(a), "targettarget");
}

// "**" spans directories in both lists only when "recursive" is true.
TEST(RemoveAction, RecursiveDecidesWhatDoubleStarsReach) {
  TempDir dir;
  const fs::path b1 = dir.write("t/x/b", "1"), b2 = dir.write("t/x/y/b", "2"), b3 = dir.write("t/x/y/z/b", "3");
  const std::string include = "\"t/**/b\"", exclude = "\"t/**/z/b\"";
  RunResult run = runActions(dir, removeAction(include, exclude, ", \"recursive\": false") + ", " +
                                      removeAction(include, exclude, ", \"recursive\": true"));
  EXPECT_EQ(run.out, kStart + selectionLog({{b1, ""}}) + removeLine(b1) + announce("Clean up") +
                         selectionLog({{b2, ""}, {b3, ""}}, {b3}, {{b2, ""}}) + removeLine(b2));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(b3), "3");
  EXPECT_FALSE(fs::exists(b2));
}
