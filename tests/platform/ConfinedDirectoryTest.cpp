#include <gtest/gtest.h>

#include "platform/ConfinedDirectory.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using platform::ConfinedDirectory;
using testing_support::TempDir;

namespace {

TEST(ConfinedDirectory, ResolvesNamesLexicallyAndRefusesClimbingOut) {
  const std::pair<const char*, const char*> cases[] = {
      {"./bin/./tool", "bin/tool"}, {"bin/../lib/x", "lib/x"}, {"bin/..", ""}, {"..bin/x..", "..bin/x.."}, {"..", "-"},
      {"a/../../x", "-"},           {"/etc/passwd", "-"},
  };
  for (const auto& [name, expected] : cases) {
    std::optional<fs::path> path = ConfinedDirectory::relativePath(name);
    EXPECT_EQ(path ? path->string() : "-", expected) << name;
  }
}

TEST(ConfinedDirectory, CreatesLevelsThroughLinksOnlyWhenTheyStayInside) {
  TempDir dir;
  dir.mkdir("dest/real");
  dir.mkdir("elsewhere");
  fs::create_symlink("real", dir / "dest/alias");
  fs::create_symlink(dir / "elsewhere", dir / "dest/out");
  fs::create_symlink("..", dir / "dest/up");
  fs::create_symlink(dir / "elsewhere/missing", dir / "dest/dangling-out");
  ConfinedDirectory tree(dir / "dest");
  EXPECT_TRUE(tree.createDirectories("a/b"));
  EXPECT_TRUE(tree.createDirectories("alias/sub"));
  EXPECT_TRUE(fs::is_directory(dir / "dest/a/b"));
  EXPECT_TRUE(fs::is_directory(dir / "dest/real/sub"));
  EXPECT_FALSE(tree.createDirectories("out/sub"));
  EXPECT_FALSE(tree.createDirectories("up/sub"));
  EXPECT_FALSE(tree.createDirectories("dangling-out/sub"));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  EXPECT_FALSE(fs::exists(dir / "sub"));

  // Levels that cannot be directories are errors, not escapes.
  dir.write("dest/file", "x");
  fs::create_symlink("missing", dir / "dest/dangling-in");
  EXPECT_THROW(tree.createDirectories("file/sub"), fs::filesystem_error);
  EXPECT_THROW(tree.createDirectories("dangling-in/sub"), fs::filesystem_error);
  EXPECT_FALSE(fs::exists(dir / "dest/missing"));

  // A level replaced by a link after it was used is seen as the link.
  fs::remove_all(dir / "dest/a");
  fs::create_symlink(dir / "elsewhere", dir / "dest/a");
  EXPECT_FALSE(tree.createDirectories("a/c"));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

}  // namespace
