#include <gtest/gtest.h>

#include "platform/ConfinedDirectory.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using platform::ConfinedDirectory;
using testing_support::TempDir;

namespace {

std::string relative(const std::string& name) {
  std::optional<fs::path> path = ConfinedDirectory::relativePath(name);
  return path ? path->string() : "<outside>";
}

TEST(ConfinedDirectoryNames, ResolveDotsLexicallyAndRefuseClimbingOut) {
  EXPECT_EQ(relative("bin/tool"), "bin/tool");
  EXPECT_EQ(relative("./bin/./tool"), "bin/tool");
  EXPECT_EQ(relative("bin/../lib/x"), "lib/x");
  EXPECT_EQ(relative("bin/"), "bin");
  EXPECT_EQ(relative("bin/.."), "");
  EXPECT_EQ(relative("..bin/x.."), "..bin/x..");
  EXPECT_EQ(relative(".."), "<outside>");
  EXPECT_EQ(relative("../x"), "<outside>");
  EXPECT_EQ(relative("a/../../x"), "<outside>");
  EXPECT_EQ(relative("a/b/../../../x"), "<outside>");
  EXPECT_EQ(relative("/etc/passwd"), "<outside>");
}

TEST(ConfinedDirectoryRoot, MustBeADirectory) {
  TempDir dir;
  fs::path file = dir.write("file", "x");
  EXPECT_THROW(ConfinedDirectory{file}, fs::filesystem_error);
  EXPECT_THROW(ConfinedDirectory{dir / "missing"}, fs::filesystem_error);
  fs::create_symlink(dir.mkdir("real"), dir / "link");
  EXPECT_EQ(ConfinedDirectory(dir / "link").root(), dir / "real");
}

TEST(ConfinedDirectoryCreate, MakesMissingLevelsAndAcceptsExistingOnes) {
  TempDir dir;
  ConfinedDirectory tree(dir.mkdir("dest"));
  EXPECT_TRUE(tree.createDirectories("a/b/c"));
  EXPECT_TRUE(fs::is_directory(dir / "dest/a/b/c"));
  EXPECT_TRUE(tree.createDirectories("a/b/d"));
  EXPECT_TRUE(tree.createDirectories(""));
  EXPECT_TRUE(fs::is_directory(dir / "dest/a/b/d"));
}

TEST(ConfinedDirectoryCreate, FollowsLinksThatStayInside) {
  TempDir dir;
  dir.mkdir("dest/real");
  fs::create_symlink("real", dir / "dest/alias");
  ConfinedDirectory tree(dir / "dest");
  EXPECT_TRUE(tree.createDirectories("alias/sub"));
  EXPECT_TRUE(fs::is_directory(dir / "dest/real/sub"));
}

TEST(ConfinedDirectoryCreate, StopsAtLinksLeadingOutAndCreatesNothingThere) {
  TempDir dir;
  dir.mkdir("dest");
  dir.mkdir("elsewhere");
  fs::create_symlink(dir / "elsewhere", dir / "dest/out");
  fs::create_symlink("..", dir / "dest/up");
  fs::create_symlink(dir / "elsewhere/missing", dir / "dest/dangling");
  ConfinedDirectory tree(dir / "dest");
  EXPECT_FALSE(tree.createDirectories("out/sub"));
  EXPECT_FALSE(tree.createDirectories("up/sub"));
  EXPECT_FALSE(tree.createDirectories("dangling/sub"));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  EXPECT_FALSE(fs::exists(dir / "sub"));
}

TEST(ConfinedDirectoryCreate, ALevelThatIsAFileIsAnError) {
  TempDir dir;
  dir.write("dest/file", "x");
  ConfinedDirectory tree(dir / "dest");
  EXPECT_THROW(tree.createDirectories("file/sub"), fs::filesystem_error);
  fs::create_symlink("file", dir / "dest/filelink");
  EXPECT_THROW(tree.createDirectories("filelink/sub"), fs::filesystem_error);
  fs::create_symlink("missing", dir / "dest/dangling");
  EXPECT_THROW(tree.createDirectories("dangling/sub"), fs::filesystem_error);
  EXPECT_FALSE(fs::exists(dir / "dest/missing"));
}

TEST(ConfinedDirectoryLinks, JudgeTheTextFromTheLinksOwnDirectory) {
  TempDir dir;
  dir.mkdir("dest/bin");
  ConfinedDirectory tree(dir / "dest");
  EXPECT_TRUE(tree.linkStaysInside("bin/tool", "tool-1.0"));
  EXPECT_TRUE(tree.linkStaysInside("bin/tool", "../lib/tool"));
  EXPECT_TRUE(tree.linkStaysInside("bin/tool", "."));
  EXPECT_FALSE(tree.linkStaysInside("bin/tool", "../../etc/passwd"));
  EXPECT_FALSE(tree.linkStaysInside("tool", ".."));
  EXPECT_FALSE(tree.linkStaysInside("bin/tool", "/etc/passwd"));
  EXPECT_FALSE(tree.linkStaysInside("bin/tool", (dir / "dest/bin/x").string()));
}

TEST(ConfinedDirectoryLinks, SeeThroughLinksAlreadyOnTheWay) {
  TempDir dir;
  dir.mkdir("dest");
  fs::create_symlink(".", dir / "dest/self");
  ConfinedDirectory tree(dir / "dest");
  // "self/.." reads as the root by its text, but self is the root itself.
  EXPECT_FALSE(tree.linkStaysInside("link", "self/.."));
  EXPECT_TRUE(tree.linkStaysInside("link", "self/x"));
}

TEST(ConfinedDirectoryCreate, ForgetsVerifiedLevelsOnRequest) {
  TempDir dir;
  dir.mkdir("dest/a");
  dir.mkdir("elsewhere");
  ConfinedDirectory tree(dir / "dest");
  EXPECT_TRUE(tree.createDirectories("a"));
  fs::remove(dir / "dest/a");
  fs::create_symlink(dir / "elsewhere", dir / "dest/a");
  tree.forgetVerified();
  EXPECT_FALSE(tree.createDirectories("a/b"));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

}  // namespace
