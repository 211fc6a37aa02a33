#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/AtomicFile.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

// Names in `dir` other than `keep`: leftovers of a temporary file show here.
std::vector<std::string> namesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(dir)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t modeOf(const fs::path& file) {
  struct stat info;
  EXPECT_EQ(::lstat(file.c_str(), &info), 0);
  return info.st_mode;
}

TEST(AtomicFile, TargetShowsNothingUntilCommitThenAllBytes) {
  TempDir dir;
  fs::path target = dir / "app";
  {
    platform::AtomicFile file(target);
    file.write("hello ", 6);
    file.write("world", 5);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(file.temporaryPath().parent_path(), dir.path());
    file.commit();
  }
  EXPECT_EQ(readFile(target), "hello world");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"app"});
}

TEST(AtomicFile, AbandonedWriteKeepsOldFileAndLeavesNoTemporary) {
  TempDir dir;
  fs::path target = dir.write("app", "old");
  {
    platform::AtomicFile file(target);
    file.write("new and partial", 15);
  }
  EXPECT_EQ(readFile(target), "old");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"app"});
}

TEST(AtomicFile, ReplacesFileKeptOpenByAReaderWithoutChangingWhatItReads) {
  TempDir dir;
  fs::path target = dir.write("app", "old content");
  std::ifstream running(target, std::ios::binary);
  platform::AtomicFile file(target);
  file.write("new", 3);
  file.commit();
  std::string seen((std::istreambuf_iterator<char>(running)), std::istreambuf_iterator<char>());
  EXPECT_EQ(seen, "old content");
  EXPECT_EQ(readFile(target), "new");
}

TEST(AtomicFile, NewFileGetsUmaskModeUnlessPermissionsAreSet) {
  TempDir dir;
  mode_t old = ::umask(022);
  {
    platform::AtomicFile plain(dir / "plain");
    plain.commit();
    platform::AtomicFile tool(dir / "tool");
    tool.write("#!/bin/sh\n", 10);
    tool.setPermissions(04755 | 0170000);  // type bits are ignored
    tool.commit();
  }
  ::umask(old);
  EXPECT_EQ(modeOf(dir / "plain") & 07777, 0644u);
  EXPECT_EQ(modeOf(dir / "tool") & 07777, 04755u);
  EXPECT_TRUE(S_ISREG(modeOf(dir / "tool")));
}

TEST(AtomicFile, ReadOnlyModeIsSetAfterAllBytesAreWritten) {
  TempDir dir;
  platform::AtomicFile file(dir / "ro");
  file.setPermissions(0444);
  file.write("still written", 13);
  file.commit();
  EXPECT_EQ(readFile(dir / "ro"), "still written");
  EXPECT_EQ(modeOf(dir / "ro") & 07777, 0444u);
}

TEST(AtomicFile, RefusesToReplaceADirectoryAndCleansUp) {
  TempDir dir;
  dir.write("app/inside", "x");
  {
    platform::AtomicFile file(dir / "app");
    file.write("data", 4);
    EXPECT_THROW(file.commit(), fs::filesystem_error);
  }
  EXPECT_TRUE(fs::is_directory(dir / "app"));
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"app"});
}

TEST(AtomicFile, MissingDirectoryIsAnErrorNamingThePath) {
  TempDir dir;
  try {
    platform::AtomicFile file(dir / "missing" / "app");
    FAIL() << "no exception";
  } catch (const fs::filesystem_error& error) {
    EXPECT_NE(std::string(error.what()).find((dir / "missing").string()), std::string::npos) << error.what();
  }
}

TEST(AtomicFile, ReplacesALinkItselfNotTheFileItPointsTo) {
  TempDir dir;
  fs::path outside = dir.write("outside", "keep");
  fs::create_symlink(outside, dir / "link");
  platform::AtomicFile file(dir / "link");
  file.write("new", 3);
  file.commit();
  EXPECT_EQ(readFile(outside), "keep");
  EXPECT_FALSE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(readFile(dir / "link"), "new");
}

TEST(ReplaceWithSymlink, CreatesOrReplacesFilesAndLinksButNotDirectories) {
  TempDir dir;
  platform::replaceWithSymlink(dir / "fresh", "target-a");
  EXPECT_EQ(fs::read_symlink(dir / "fresh"), "target-a");
  platform::replaceWithSymlink(dir / "fresh", "target-b");
  EXPECT_EQ(fs::read_symlink(dir / "fresh"), "target-b");
  dir.write("file", "x");
  platform::replaceWithSymlink(dir / "file", "target-c");
  EXPECT_EQ(fs::read_symlink(dir / "file"), "target-c");
  dir.mkdir("dir");
  EXPECT_THROW(platform::replaceWithSymlink(dir / "dir", "target-d"), fs::filesystem_error);
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(dir / "dir")));
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"dir", "file", "fresh"}));
}

}  // namespace
