// The remove and rename actions through the real updater: exact output, exit
// status and what is left on disk, including symbolic links that must never
// lead the removal outside what was selected.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "actions/FileActionsHarness.h"
#include "support/Process.h"
#include "support/TempDir.h"

using namespace file_actions_test;
using testing_support::header;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

std::string removeAction(const std::string& include, const std::string& exclude, const std::string& extra = "") {
  return "{\"type\": \"remove\", \"description\": \"Clean up\", \"include\": " + include + ", \"exclude\": " + exclude +
         extra + "}";
}

std::string removeLine(const fs::path& path) { return "Remove file or directory " + q(path) + "\n"; }

std::string renameAction(const std::string& from, const std::string& to) {
  return "{\"type\": \"rename\", \"description\": \"Move\", \"from\": " + from + ", \"to\": " + to + "}";
}

}  // namespace

TEST(RemoveAction, KeepsExcludedPathAndTheDirectoriesLeadingToIt) {
  TempDir dir;
  dir.write("x/dir/a.txt", "a");
  dir.write("x/dir/sub/b.txt", "b");
  dir.write("x/dir/inner/c.txt", "c");
  const fs::path keep = dir.write("x/dir/inner/keep.txt", "keep");
  const fs::path top = dir / "x/dir";

  Pairs included, result;
  std::string removals;
  for (const std::string& name : listing(top)) {
    if (name == "inner") continue;
    included.emplace_back(top / name, "dir");
    result.emplace_back(top / name, "dir");
    removals += removeLine(top / name);
  }
  for (const std::string& name : listing(top / "inner")) {
    included.emplace_back(top / "inner" / name, "dir/inner");
    if (name == "keep.txt") continue;
    result.emplace_back(top / "inner" / name, "dir/inner");
    removals += removeLine(top / "inner" / name);
  }

  Outcome run = runActions(dir, removeAction(json(top), json(keep)));

  EXPECT_EQ(run.out, header("update.zip") + announce("Clean up") + selectionLog(included, {keep}, result) + removals);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(listing(top), std::vector<std::string>{"inner"});
  EXPECT_EQ(listing(top / "inner"), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(readFile(keep), "keep");
}

TEST(RemoveAction, PatternMatchingNothingRemovesNothing) {
  TempDir dir;
  dir.write("a.txt", "a");
  Outcome run = runActions(dir, removeAction(json(dir / "*.none"), "[]"));
  EXPECT_EQ(run.out, header("update.zip") + announce("Clean up") + selectionLog({}, {}, {}));
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(fs::exists(dir / "a.txt"));
}

TEST(RemoveAction, EntryAlreadyGoneIsPassedOver) {
  TempDir dir;
  const fs::path file = dir.write("d/f.txt", "f");
  const fs::path d = file.parent_path();
  const fs::path after = dir.write("after.txt", "x");

  Outcome run = runActions(dir, removeAction(jsonList({d, file, after}), "[]"));

  const Pairs pairs{{d, ""}, {file, ""}, {after, ""}};
  EXPECT_EQ(run.out, header("update.zip") + announce("Clean up") + selectionLog(pairs, {}, pairs) + removeLine(d) +
                         removeLine(file) + removeLine(after));
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(fs::exists(d));
  EXPECT_FALSE(fs::exists(after));
}

TEST(RemoveAction, LinkInOpenedDirectoryIsRemovedNotItsTarget) {
  TempDir dir;
  const fs::path keep = dir.write("app/Support/keep.db", "keep");
  const fs::path data = dir.write("home/Documents/letter.txt", "precious").parent_path();
  const fs::path link = dir / "app/Support/Documents";
  fs::create_directory_symlink(data, link);
  const fs::path support = dir / "app/Support";

  Pairs included, result;
  std::string removals;
  for (const std::string& name : listing(support)) {
    const fs::path canonical = name == "Documents" ? data : support / name;
    included.emplace_back(canonical, "Support");
    if (name == "keep.db") continue;
    result.emplace_back(canonical, "Support");
    removals += removeLine(support / name);
  }
  Outcome run = runActions(dir, removeAction(json(support), json(keep)));

  EXPECT_EQ(run.out, header("update.zip") + announce("Clean up") + selectionLog(included, {keep}, result) + removals);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(data / "letter.txt"), "precious");
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(readFile(keep), "keep");
}

TEST(RemoveAction, LinkNamedInIncludeIsRemovedNotItsTarget) {
  TempDir dir;
  const fs::path data = dir.write("home/Documents/letter.txt", "precious").parent_path();
  const fs::path link = dir / "app/docs";
  fs::create_directories(link.parent_path());
  fs::create_directory_symlink(data, link);

  Outcome run = runActions(dir, removeAction(json(link), "[]"));

  EXPECT_EQ(run.out, header("update.zip") + announce("Clean up") + selectionLog({{data, ""}}, {}, {{data, ""}}) +
                         removeLine(link));
  EXPECT_EQ(readFile(data / "letter.txt"), "precious");
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(RemoveAction, LinkOpenedUpByAnExclusionLeavesItsTargetAlone) {
  TempDir dir;
  const fs::path data = dir.write("home/Documents/letter.txt", "precious").parent_path();
  dir.write("home/Documents/keep.txt", "keep");
  const fs::path link = dir / "app/docs";
  fs::create_directories(link.parent_path());
  fs::create_directory_symlink(data, link);

  Outcome run = runActions(dir, removeAction(json(link), json(link / "keep.txt")));

  Pairs included, result;
  for (const std::string& name : listing(data)) {
    included.emplace_back(data / name, "Documents");
    if (name != "keep.txt") result.emplace_back(data / name, "Documents");
  }
  EXPECT_EQ(run.out, header("update.zip") + announce("Clean up") + selectionLog(included, {data / "keep.txt"}, result));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(data / "letter.txt"), "precious");
  EXPECT_TRUE(fs::is_symlink(link));
}

TEST(RemoveAction, LinkRemovedEarlierIsNotFollowedLater) {
  TempDir dir;
  const fs::path data = dir.write("home/Documents/letter.txt", "precious").parent_path();
  fs::create_directories(dir / "app");
  fs::create_directory_symlink(data, dir / "app/docs");

  // The link comes first and is removed; the path through it then leads
  // nowhere, although its canonical form still exists.
  Outcome run = runActions(dir, removeAction(jsonList({dir / "app/docs", dir / "app/docs/letter.txt"}), "[]"));

  const Pairs pairs{{data, ""}, {data / "letter.txt", ""}};
  EXPECT_EQ(run.out, header("update.zip") + announce("Clean up") + selectionLog(pairs, {}, pairs) +
                         removeLine(dir / "app/docs") + removeLine(dir / "app/docs/letter.txt"));
  EXPECT_EQ(readFile(data / "letter.txt"), "precious");
}

TEST(RemoveAction, FieldProblemsAreReportedAndActionSkipped) {
  TempDir dir;
  const fs::path f = dir.write("f.txt", "f");
  Outcome run = runActions(dir, "{\"type\": \"remove\"}, {\"type\": \"remove\", \"include\": {}, \"exclude\": []}, " +
                                    std::string("{\"type\": \"remove\", \"include\": ") + json(f) + "}");
  EXPECT_EQ(run.out, header("update.zip") + "Field include does not found\nField exclude does not found\n" +
                         "Field include has invalid type\n" + "Field exclude does not found\n" + announce("") +
                         selectionLog({{f, ""}}, {}, {{f, ""}}) + removeLine(f));
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(fs::exists(f));
}

TEST(RemoveAction, UnboundAliasEndsRunBeforeAnythingIsRemoved) {
  TempDir dir;
  const fs::path f = dir.write("f.txt", "f");
  Outcome run = runActions(dir, removeAction(json(f), "[]") + ", " + removeAction("[\"@missing\"]", "[]"));
  EXPECT_EQ(run.out, header("update.zip") + failure("Alias does not found"));
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(fs::exists(f));
}

TEST(RenameAction, RenamesLiterallyWithoutQuotes) {
  TempDir dir;
  dir.write("old name.txt", "content");
  dir.write("@update.zip", "not the package");

  Outcome run = runActions(
      dir, renameAction("\"old name.txt\"", "\"new name.txt\"") + ", " + renameAction("\"@update.zip\"", "\"x.zip\""),
      "package.zip");

  EXPECT_EQ(run.out, header("package.zip") + announce("Move") + "Rename old name.txt to new name.txt\n" +
                         announce("Move") + "Rename @update.zip to x.zip\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(dir / "new name.txt"), "content");
  EXPECT_EQ(readFile(dir / "x.zip"), "not the package");
  EXPECT_TRUE(fs::exists(dir / "package.zip"));
}

TEST(RenameAction, ReplacesExistingFileAndEmptyDirectory) {
  TempDir dir;
  dir.write("a.txt", "new");
  dir.write("b.txt", "old");
  dir.write("d1/f", "f");
  dir.mkdir("d2");

  Outcome run = runActions(dir, renameAction(json(dir / "a.txt"), json(dir / "b.txt")) + ", " +
                                    renameAction(json(dir / "d1"), json(dir / "d2")));

  EXPECT_EQ(run.out, header("update.zip") + announce("Move") + "Rename " + (dir / "a.txt").string() + " to " +
                         (dir / "b.txt").string() + "\n" + announce("Move") + "Rename " + (dir / "d1").string() +
                         " to " + (dir / "d2").string() + "\n");
  EXPECT_EQ(readFile(dir / "b.txt"), "new");
  EXPECT_EQ(readFile(dir / "d2/f"), "f");
  EXPECT_FALSE(fs::exists(dir / "d1"));
}

TEST(RenameAction, InvalidFieldsWriteNothing) {
  TempDir dir;
  dir.write("a.txt", "a");
  Outcome run = runActions(dir, renameAction("5", "\"b.txt\"") + ", {\"type\": \"rename\", \"from\": \"a.txt\"}, " +
                                    "{\"type\": \"rename\", \"to\": \"b.txt\"}");
  EXPECT_EQ(run.out, header("update.zip"));
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(fs::exists(dir / "a.txt"));
}

TEST(RenameAction, FailureEndsRunAndLaterActionsAreNotPerformed) {
  TempDir dir;
  dir.write("a.txt", "a");
  Outcome run = runActions(dir, renameAction("\"missing\"", "\"x\"") + ", " + renameAction("\"a.txt\"", "\"b.txt\""));
  expectFailureAfter(run.out, header("update.zip") + announce("Move") + "Rename missing to x\n", "missing");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(fs::exists(dir / "a.txt"));
}
