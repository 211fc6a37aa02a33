// The copy action through the updater's driver: exact output, exit status and
// what ends up in the destination.
#include "actions/ActionTestSupport.h"

using namespace action_testing;

namespace {

std::string copyAction(const std::string& include, const std::string& exclude, const fs::path& destination,
                       const std::string& extra = "") {
  return "{\"type\": \"copy\", \"description\": \"Copy files\", \"include\": " + include + ", \"exclude\": " + exclude +
         ", \"destination\": " + json(destination) + extra + "}";
}

std::string copyLine(const fs::path& from, const fs::path& to) {
  return "Copy from " + q(from) + " to " + q(to) + "\n";
}

const std::string kStart = header("update.zip") + announce("Copy files");

}  // namespace

TEST(CopyAction, MergesDirectoriesOverwritesFilesAndCopiesLinkTargets) {
  TempDir dir;
  dir.write("src/lib/new.txt", "fresh");
  const fs::path conf = dir.write("src/conf.txt", "new conf"), res = dir.write("src/res.txt", "resource");
  const fs::path target = dir.write("real/target.txt", "linked content");
  fs::create_symlink(target, dir / "link.txt");
  dir.write("dest/lib/old.txt", "kept");
  dir.write("dest/lib/new.txt", "stale");
  dir.write("dest/conf.txt", "old conf");
  dir.mkdir("dest/res.txt");
  const fs::path dest = dir / "dest";
  RunResult run = runActions(dir, copyAction(jsonList({dir / "src/lib", conf, res, dir / "link.txt"}), "[]", dest));
  EXPECT_EQ(run.out, kStart + selectionLog({{dir / "src/lib", ""}, {conf, ""}, {res, ""}, {target, ""}}) +
                         copyLine(dir / "src/lib", dest / "lib") + copyLine(conf, dest / "conf.txt") +
                         copyLine(res, dest / "res.txt") + copyLine(target, dest / "target.txt"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(dest / "lib/new.txt"), "fresh");
  EXPECT_EQ(readFile(dest / "lib/old.txt"), "kept");
  EXPECT_EQ(readFile(dest / "conf.txt"), "new conf");
  EXPECT_EQ(readFile(dest / "res.txt/res.txt"), "resource");
  EXPECT_EQ(readFile(dest / "target.txt"), "linked content");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "link.txt")));
}

// A failure ends the run at the pair that fails, or before any copy when a
// directory would go into itself or the selection cannot be made; what
// comes later is not copied and the sources stay.
TEST(CopyAction, FailuresEndTheRunAtTheFailingPair) {
  TempDir dir;
  const fs::path a = dir.write("a.txt", "a"), b = dir.write("b.txt", "b"), d = dir.write("d.txt", "d");
  const fs::path cdir = dir.write("cdir/inner.txt", "c").parent_path(), out = dir / "out";
  dir.write("out/cdir", "a file where a directory would go");
  const fs::path src = dir.write("d/src/file.txt", "content").parent_path();
  const fs::path app = dir.write("app/file.txt", "content").parent_path();
  dir.write("links/keep", "k");
  fs::create_symlink(dir / "gone", dir / "links/dangling");
  const struct {
    std::string include, exclude;
    fs::path destination;
    std::string before;
    fs::path failing;
  } cases[] = {
      {jsonList({a, b, cdir, d}), "[]", out,
       selectionLog({{a, ""}, {b, ""}, {cdir, ""}, {d, ""}}) + copyLine(a, out / "a.txt") + copyLine(b, out / "b.txt") +
           copyLine(cdir, out / "cdir"),
       out / "cdir"},
      {jsonList({src, a}), "[]", dir / "d", selectionLog({{src, ""}, {a, ""}}) + copyLine(src, src), src},
      {jsonList({a, app}), "[]", app / "sub/deeper", selectionLog({{a, ""}, {app, ""}}), app},
      {json(dir / "links"), json(dir / "links/keep"), out, "", dir / "links/dangling"},
  };
  for (const auto& c : cases) {
    RunResult run = runActions(dir, copyAction(c.include, c.exclude, c.destination));
    expectFailureAfter(run.out, kStart + c.before, c.failing);
    EXPECT_EQ(run.status, 2);
  }
  EXPECT_EQ(listing(out, true), (std::vector<std::string>{"a.txt", "b.txt", "cdir"}));
  EXPECT_EQ(listing(dir / "d"), std::vector<std::string>{"src"});
  EXPECT_EQ(readFile(src / "file.txt"), "content");
  EXPECT_EQ(listing(app), std::vector<std::string>{"file.txt"});
}

// Directories opened up around an exclusion are recreated level by level
// below the destination, also when a name holds pattern characters; the
// entries of a sibling that differs only by a backslash stay with it. The
// remove of the same selection leaves the excluded file alone.
TEST(CopyAction, OpenedUpDirectoriesKeepTheirLevelsAndTheirOwnNames) {
  TempDir dir;
  const fs::path top = dir / "top", app = top / "app[1]*?";
  const fs::path skip = dir.write("top/app[1]*?/skip", "s");
  dir.write("top/app[1]*?/sub/x", "x");
  dir.write("top/app[1]*?/keep", "k");
  dir.write("top/app\\1]*?/other", "o");
  const fs::path out = dir / "out";
  Pairs included;
  for (const std::string& name : listing(top)) {
    if (name != app.filename()) included.emplace_back(top / name, "top");
  }
  for (const std::string& name : listing(app)) included.emplace_back(app / name, "top/app[1]*?");
  Pairs result;
  std::string copies, removals;
  for (const auto& [file, suffix] : included) {
    if (file == skip) continue;
    result.emplace_back(file, suffix);
    copies += copyLine(file, out / suffix / file.filename());
    removals += "Remove file or directory " + q(file) + "\n";
  }
  // The exclusion names the file through a pattern, its own name being one.
  const std::string exclude = json(top / "app[[]1][*][?]/skip");
  RunResult run =
      runActions(dir, copyAction(json(top), exclude, out) + ", " +
                          "{\"type\": \"remove\", \"description\": \"Clean up\", \"include\": " + json(top) +
                          ", \"exclude\": " + exclude + "}");
  const std::string log = selectionLog(included, {skip}, result);
  EXPECT_EQ(run.out, kStart + log + copies + announce("Clean up") + log + removals);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(out / "top/app[1]*?/keep") + readFile(out / "top/app[1]*?/sub/x"), "kx");
  EXPECT_EQ(readFile(out / "top/app\\1]*?/other"), "o");
  EXPECT_EQ(listing(out / "top/app[1]*?", true), (std::vector<std::string>{"keep", "sub"}));
  EXPECT_EQ(listing(out), std::vector<std::string>{"top"});
  EXPECT_EQ(listing(top), std::vector<std::string>{"app[1]*?"});
  EXPECT_EQ(listing(app), std::vector<std::string>{"skip"});
}
