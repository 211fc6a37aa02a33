// The copy action through the real updater: exact output, exit status and
// what ends up in the destination.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "actions/FileActionsHarness.h"
#include "support/Process.h"
#include "support/TempDir.h"

using namespace file_actions_test;
using testing_support::header;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

std::string copyAction(const std::string& include, const std::string& exclude, const fs::path& destination,
                       const std::string& extra = "") {
  return "{\"type\": \"copy\", \"description\": \"Copy files\", \"include\": " + include + ", \"exclude\": " + exclude +
         ", \"destination\": " + json(destination) + extra + "}";
}

std::string copyLine(const fs::path& from, const fs::path& to) {
  return "Copy from " + q(from) + " to " + q(to) + "\n";
}

}  // namespace

TEST(CopyAction, OpensBundleAroundExclusionIntoNewDestination) {
  TempDir dir;
  dir.write("app/Tool.app/Contents/data.db", "db");
  dir.write("app/Tool.app/Contents/Info.plist", "plist");
  dir.write("app/Tool.app/Contents/MacOS/tool", "bin");
  const fs::path contents = dir / "app/Tool.app/Contents";
  const fs::path destination = dir / "out/new";

  Outcome run = runActions(dir, copyAction(json(dir / "app/Tool.app"), json(contents / "data.db"), destination));

  Pairs included, result;
  std::string copies;
  for (const std::string& name : listing(contents)) {
    included.emplace_back(contents / name, "Tool.app/Contents");
    if (name == "data.db") continue;
    result.emplace_back(contents / name, "Tool.app/Contents");
    copies += copyLine(contents / name, destination / "Tool.app/Contents" / name);
  }
  EXPECT_EQ(run.out, header("update.zip") + announce("Copy files") +
                         selectionLog(included, {contents / "data.db"}, result) + copies);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(destination / "Tool.app/Contents/Info.plist"), "plist");
  EXPECT_EQ(readFile(destination / "Tool.app/Contents/MacOS/tool"), "bin");
  EXPECT_FALSE(fs::exists(destination / "Tool.app/Contents/data.db"));
}

TEST(CopyAction, MergesDirectoriesAndOverwritesFiles) {
  TempDir dir;
  dir.write("src/lib/new.txt", "fresh");
  const fs::path conf = dir.write("src/conf.txt", "new conf");
  const fs::path res = dir.write("src/res.txt", "resource");
  dir.write("dest/lib/old.txt", "kept");
  dir.write("dest/lib/new.txt", "stale");
  dir.write("dest/conf.txt", "old conf");
  dir.mkdir("dest/res.txt");
  const fs::path dest = dir / "dest";

  Outcome run = runActions(dir, copyAction(jsonList({dir / "src/lib", conf, res}), "[]", dest));

  EXPECT_EQ(run.out, header("update.zip") + announce("Copy files") +
                         selectionLog({{dir / "src/lib", ""}, {conf, ""}, {res, ""}}, {},
                                      {{dir / "src/lib", ""}, {conf, ""}, {res, ""}}) +
                         copyLine(dir / "src/lib", dest / "lib") + copyLine(conf, dest / "conf.txt") +
                         copyLine(res, dest / "res.txt"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(dest / "lib/new.txt"), "fresh");
  EXPECT_EQ(readFile(dest / "lib/old.txt"), "kept");
  EXPECT_EQ(readFile(dest / "conf.txt"), "new conf");
  EXPECT_EQ(readFile(dest / "res.txt/res.txt"), "resource");
}

TEST(CopyAction, RecursivePatternCopiesMatchesFlat) {
  TempDir dir;
  const fs::path x = dir.write("tree/a/x.cfg", "x");
  const fs::path y = dir.write("tree/a/b/y.cfg", "y");
  dir.write("tree/a/b/z.txt", "z");
  const fs::path out = dir / "out";

  Outcome run = runActions(dir, copyAction(json(dir / "tree/**/*.cfg"), "[]", out, ", \"recursive\": true"));

  EXPECT_EQ(run.out, header("update.zip") + announce("Copy files") +
                         selectionLog({{x, ""}, {y, ""}}, {}, {{x, ""}, {y, ""}}) + copyLine(x, out / "x.cfg") +
                         copyLine(y, out / "y.cfg"));
  EXPECT_EQ(readFile(out / "y.cfg"), "y");
  EXPECT_FALSE(fs::exists(out / "z.txt"));
}

TEST(CopyAction, EmptySelectionStillCreatesDestination) {
  TempDir dir;
  const fs::path dest = dir / "a/b/c";
  Outcome run = runActions(dir, copyAction(json(dir / "*.none"), "[]", dest));
  EXPECT_EQ(run.out, header("update.zip") + announce("Copy files") + selectionLog({}, {}, {}));
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(fs::is_directory(dest));
}

TEST(CopyAction, LinkIsCopiedUnderItsTargetsName) {
  TempDir dir;
  const fs::path target = dir.write("real/target.txt", "linked content");
  fs::create_symlink(target, dir / "link.txt");
  const fs::path out = dir / "out";

  Outcome run = runActions(dir, copyAction(json(dir / "link.txt"), "[]", out));

  EXPECT_EQ(run.out, header("update.zip") + announce("Copy files") + selectionLog({{target, ""}}, {}, {{target, ""}}) +
                         copyLine(target, out / "target.txt"));
  EXPECT_EQ(readFile(out / "target.txt"), "linked content");
  EXPECT_FALSE(fs::exists(fs::symlink_status(out / "link.txt")));
}

TEST(CopyAction, MissingExcludeIsReportedButActionRuns) {
  TempDir dir;
  const fs::path f = dir.write("f.txt", "f");
  Outcome run =
      runActions(dir, "{\"type\": \"copy\", \"include\": " + json(f) + ", \"destination\": " + json(dir / "out") + "}");
  EXPECT_EQ(run.out, header("update.zip") + "Field exclude does not found\n" + announce("") +
                         selectionLog({{f, ""}}, {}, {{f, ""}}) + copyLine(f, dir / "out/f.txt"));
  EXPECT_EQ(readFile(dir / "out/f.txt"), "f");
}

TEST(CopyAction, InvalidActionsAreNeverPerformed) {
  TempDir dir;
  const fs::path f = dir.write("f.txt", "f");
  const std::string include = ", \"include\": " + json(f) + ", \"exclude\": []";
  Outcome run =
      runActions(dir, "{\"type\": \"copy\"" + include + "}, {\"type\": \"copy\"" + include + ", \"destination\": 5}, " +
                          "{\"type\": \"copy\", \"exclude\": [], \"destination\": " + json(dir / "out") + "}, " +
                          "{\"type\": \"copy\", \"include\": [" + json(f) +
                          ", 1], \"exclude\": 2, \"destination\": " + json(dir / "out") + "}");
  EXPECT_EQ(run.out, header("update.zip") + "Field include does not found\n" +
                         "Field include array has invalid items type\nField exclude has invalid type\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(CopyAction, FailureStopsAtTheFailingPair) {
  TempDir dir;
  const fs::path a = dir.write("a.txt", "a");
  const fs::path b = dir.write("b.txt", "b");
  const fs::path c = dir.write("cdir/inner.txt", "c").parent_path();
  const fs::path d = dir.write("d.txt", "d");
  const fs::path out = dir / "out";
  dir.write("out/cdir", "a file where a directory would go");

  Outcome run = runActions(dir, copyAction(jsonList({a, b, c, d}), "[]", out) + ", " +
                                    "{\"type\": \"rename\", \"from\": \"a.txt\", \"to\": \"z.txt\"}");

  const Pairs pairs{{a, ""}, {b, ""}, {c, ""}, {d, ""}};
  expectFailureAfter(run.out,
                     header("update.zip") + announce("Copy files") + selectionLog(pairs, {}, pairs) +
                         copyLine(a, out / "a.txt") + copyLine(b, out / "b.txt") + copyLine(c, out / "cdir"),
                     out / "cdir");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(readFile(out / "b.txt"), "b");
  EXPECT_FALSE(fs::exists(out / "d.txt"));
  EXPECT_TRUE(fs::exists(a));
}

TEST(CopyAction, DestinationThatIsAFileFails) {
  TempDir dir;
  const fs::path f = dir.write("f.txt", "f");
  const fs::path dest = dir.write("dest", "plain file");

  Outcome run = runActions(dir, copyAction(json(f), "[]", dest));

  expectFailureAfter(run.out,
                     header("update.zip") + announce("Copy files") + selectionLog({{f, ""}}, {}, {{f, ""}}) +
                         copyLine(f, dest / "f.txt"),
                     dest);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(readFile(dest), "plain file");
}

TEST(CopyAction, DirectoryOntoItselfFailsAndKeepsIt) {
  TempDir dir;
  const fs::path src = dir.write("d/src/file.txt", "content").parent_path();
  const fs::path later = dir.write("later.txt", "later");

  Outcome run = runActions(dir, copyAction(jsonList({src, later}), "[]", dir / "d"));

  const Pairs pairs{{src, ""}, {later, ""}};
  expectFailureAfter(
      run.out, header("update.zip") + announce("Copy files") + selectionLog(pairs, {}, pairs) + copyLine(src, src),
      src);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(readFile(src / "file.txt"), "content");
  EXPECT_FALSE(fs::exists(dir / "d/later.txt"));
}

TEST(CopyAction, UnresolvableEntryEndsRunBeforeTheLog) {
  TempDir dir;
  dir.write("d/keep", "k");
  fs::create_symlink(dir / "gone", dir / "d/dangling");
  Outcome run = runActions(dir, copyAction(json(dir / "d"), json(dir / "d/keep"), dir / "out"));
  expectFailureAfter(run.out, header("update.zip") + announce("Copy files"), dir / "d/dangling");
  EXPECT_EQ(run.status, 2);
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(CopyAction, UnboundAliasEndsRunWhileListIsBuilt) {
  TempDir dir;
  const fs::path f = dir.write("f.txt", "f");
  Outcome run = runActions(
      dir, copyAction(json(f), "[]", dir / "first") + ", " + copyAction(json(f), "[\"@elsewhere\"]", dir / "second"));
  EXPECT_EQ(run.out, header("update.zip") + failure("Alias does not found"));
  EXPECT_EQ(run.status, 2);
  EXPECT_FALSE(fs::exists(dir / "first"));
}

TEST(CopyAction, AliasOfThePackageCanBeCopied) {
  TempDir dir;
  Outcome run = runActions(dir, copyAction("\"@update.zip\"", "[]", dir / "backup"));
  const fs::path package = dir / "update.zip";
  EXPECT_EQ(run.out, header("update.zip") + announce("Copy files") +
                         selectionLog({{package, ""}}, {}, {{package, ""}}) +
                         copyLine(package, dir / "backup/update.zip"));
  EXPECT_EQ(readFile(dir / "backup/update.zip"), readFile(package));
}
