#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

#include "platform/LinuxProcessTable.h"
#include "platform/NamedProcess.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using platform::LinuxProcessTable;
using testing_support::NamedProcess;
using testing_support::TempDir;

namespace {

bool listed(const LinuxProcessTable& table, int pid) {
  std::vector<int> ids = table.listIds();
  return std::find(ids.begin(), ids.end(), pid) != ids.end();
}

// A process id the kernel cannot have handed out (above any pid_max).
constexpr int kNoSuchPid = 0x3FFFFFFF;

}  // namespace

TEST(LinuxProcessTable, FindsAStartedChildByItsName) {
  TempDir dir;
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-p-"));
  LinuxProcessTable table;

  EXPECT_TRUE(listed(table, child.pid()));
  EXPECT_TRUE(listed(table, ::getpid()));
  EXPECT_EQ(table.shortName(child.pid()), child.name());
  EXPECT_TRUE(table.hasName(child.pid(), child.name()));
  EXPECT_FALSE(table.hasName(child.pid(), child.name() + "x"));
  EXPECT_FALSE(table.hasName(child.pid(), child.name().substr(0, child.name().size() - 1)));
  EXPECT_TRUE(table.isRunning(child.pid()));
}

TEST(LinuxProcessTable, ShortNameIsTheKernelsName) {
  TempDir dir;
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-c-"));
  std::string comm = testing_support::readFile("/proc/" + std::to_string(child.pid()) + "/comm");
  ASSERT_FALSE(comm.empty());
  comm.pop_back();  // the kernel ends the file with a line feed
  EXPECT_EQ(LinuxProcessTable().shortName(child.pid()), comm);
}

TEST(LinuxProcessTable, LongNamesNeedTheExecutablesFileName) {
  TempDir dir;
  // 22 bytes: the kernel keeps the first 15.
  const std::string name = NamedProcess::uniqueName("upd-long-name-") + "xy";
  NamedProcess child(dir.path(), name);
  LinuxProcessTable table;

  ASSERT_EQ(table.shortName(child.pid()), name.substr(0, 15));
  EXPECT_TRUE(table.hasName(child.pid(), name));
  // The same first 15 bytes but another executable file name.
  EXPECT_FALSE(table.hasName(child.pid(), name.substr(0, 15) + "other"));
  EXPECT_FALSE(table.hasName(child.pid(), name + "z"));
  // A 15-byte name is compared whole with the kernel's name.
  EXPECT_TRUE(table.hasName(child.pid(), name.substr(0, 15)));
  EXPECT_FALSE(table.hasName(child.pid(), name.substr(0, 14)));
}

TEST(LinuxProcessTable, AZombieCountsAsEnded) {
  TempDir dir;
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-z-"));
  LinuxProcessTable table;
  ASSERT_TRUE(table.isRunning(child.pid()));

  child.kill();
  ASSERT_TRUE(child.becomesZombie());
  // Still listed by the kernel, but neither found by name nor running.
  EXPECT_TRUE(listed(table, child.pid()));
  EXPECT_EQ(table.shortName(child.pid()), std::nullopt);
  EXPECT_FALSE(table.hasName(child.pid(), child.name()));
  EXPECT_FALSE(table.isRunning(child.pid()));

  child.reap();
  EXPECT_FALSE(listed(table, child.pid()));
  EXPECT_FALSE(table.isRunning(child.pid()));
}

TEST(LinuxProcessTable, KillEndsTheProcess) {
  TempDir dir;
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-k-"));
  LinuxProcessTable table;

  table.kill(child.pid());
  int status = child.reap();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_FALSE(table.isRunning(child.pid()));
}

TEST(LinuxProcessTable, ProbeOfIdsThatNameNoProcess) {
  LinuxProcessTable table;
  EXPECT_FALSE(table.isRunning(kNoSuchPid));
  EXPECT_FALSE(table.isRunning(0));
  EXPECT_FALSE(table.isRunning(-1));
  EXPECT_EQ(table.shortName(kNoSuchPid), std::nullopt);
  EXPECT_FALSE(table.hasName(kNoSuchPid, "sleep"));
  // The first process of the system runs whoever owns it.
  EXPECT_TRUE(table.isRunning(1));
}

// A hand-made proc tree checks how records are read, whatever runs here.
class FakeProcTree : public ::testing::Test {
 protected:
  void process(int pid, const std::string& statLine, const std::string& exeTarget = "") {
    dir.write(std::to_string(pid) + "/stat", statLine);
    if (!exeTarget.empty()) fs::create_symlink(exeTarget, dir / (std::to_string(pid) + "/exe"));
  }

  TempDir dir;
};

TEST_F(FakeProcTree, ListsOnlyNumericEntries) {
  process(7, "7 (a) S 1");
  process(42, "42 (b) S 1");
  dir.mkdir("self");
  dir.mkdir("12ab");
  dir.write("1000", "a file named like a process");
  dir.mkdir("-3");
  std::vector<int> ids = LinuxProcessTable(dir.path()).listIds();
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<int>{7, 42, 1000}));
}

TEST_F(FakeProcTree, NamesWithBlanksAndParentheses) {
  process(5, "5 (my (odd) app) R 1 5 5 0");
  process(6, "6 () S 1");
  process(8, "8 (half");
  LinuxProcessTable table(dir.path());
  EXPECT_EQ(table.shortName(5), "my (odd) app");
  EXPECT_TRUE(table.hasName(5, "my (odd) app"));
  EXPECT_EQ(table.shortName(6), "");
  EXPECT_EQ(table.shortName(8), std::nullopt);
  EXPECT_EQ(table.shortName(9), std::nullopt);
}

TEST_F(FakeProcTree, ZombieRecordsHaveNoName) {
  process(11, "11 (gone) Z 1");
  EXPECT_EQ(LinuxProcessTable(dir.path()).shortName(11), std::nullopt);
  EXPECT_FALSE(LinuxProcessTable(dir.path()).hasName(11, "gone"));
}

TEST_F(FakeProcTree, LongNameMatchesThroughTheExecutableLink) {
  const std::string name = "a-very-long-program-name";
  process(20, "20 (" + name.substr(0, 15) + ") S 1", "/opt/app/" + name);
  process(21, "21 (" + name.substr(0, 15) + ") S 1", "/opt/app/" + name + " (deleted)");
  process(22, "22 (" + name.substr(0, 15) + ") S 1");  // link not readable
  process(23, "23 (" + name.substr(0, 15) + ") S 1", "/opt/app/a-very-long-program-other");
  process(24, "24 (" + name.substr(0, 14) + ") S 1", "/opt/app/" + name);
  LinuxProcessTable table(dir.path());
  EXPECT_TRUE(table.hasName(20, name));
  EXPECT_TRUE(table.hasName(21, name));  // its file was replaced while it ran
  EXPECT_FALSE(table.hasName(22, name));
  EXPECT_FALSE(table.hasName(23, name));
  EXPECT_FALSE(table.hasName(24, name));
}

TEST(LinuxProcessTableRoot, MissingProcTreeListsNothing) {
  EXPECT_TRUE(LinuxProcessTable("/nonexistent-proc-root").listIds().empty());
}

TEST(SystemProcessTable, IsTheLinuxOne) {
  auto table = platform::systemProcessTable();
  ASSERT_NE(table, nullptr);
  EXPECT_NE(dynamic_cast<const LinuxProcessTable*>(table.get()), nullptr);
}
