#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "support/Helpers.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;
using Names = std::vector<std::string>;

namespace {

TEST(AtomicFile, TargetShowsTheOldContentUntilCommitThenAllBytes) {
  TempDir dir;
  fs::path target = dir.write("app", "old");
  {
    platform::AtomicFile file(target);
    file.write("hello ", 6);
    file.write("world", 5);
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(file.temporaryPath().parent_path(), dir.path());
    file.commit();
  }
  EXPECT_EQ(readFile(target), "hello world");
  platform::AtomicFile(target).write("partial", 7);  // abandoned
  EXPECT_EQ(readFile(target), "hello world");
  EXPECT_EQ(testing_support::listing(dir.path()), Names{"app"});
}

TEST(AtomicFile, NewFileGetsUmaskModeUnlessPermissionsAreSet) {
  TempDir dir;
  mode_t old = ::umask(022);
  {
    platform::AtomicFile(dir / "plain").commit();
    platform::AtomicFile tool(dir / "tool");
    tool.setPermissions(04755 | 0170000);  // type bits are ignored
    tool.commit();
  }
  ::umask(old);
  EXPECT_EQ(fs::status(dir / "plain").permissions(), fs::perms(0644));
  EXPECT_EQ(fs::status(dir / "tool").permissions(), fs::perms(04755));
}

TEST(AtomicFile, NeverReplacesADirectoryAndCleansUp) {
  TempDir dir;
  dir.write("app/inside", "x");
  {
    platform::AtomicFile file(dir / "app");
    file.write("data", 4);
    EXPECT_THROW(file.commit(), fs::filesystem_error);
  }
  EXPECT_THROW(platform::replaceWithSymlink(dir / "app", "target"), fs::filesystem_error);
  EXPECT_THROW(platform::AtomicFile(dir / "missing" / "app"), fs::filesystem_error);
  EXPECT_EQ(testing_support::listing(dir.path()), Names{"app"});
  EXPECT_EQ(testing_support::listing(dir / "app"), Names{"inside"});
}

}  // namespace
