#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "platform/LinuxProcessTable.h"
#include "support/Process.h"
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

}  // namespace

TEST(LinuxProcessTable, FindsAStartedChildByItsWholeName) {
  TempDir dir;
  NamedProcess child(dir.path(), "upd-long-name-xy");  // 22 bytes: the kernel keeps 15
  const std::string name = child.name;
  LinuxProcessTable table;
  EXPECT_TRUE(listed(table, child.pid()));
  EXPECT_TRUE(table.isRunning(child.pid()));
  EXPECT_EQ(table.shortName(child.pid()), name.substr(0, 15));
  // Beyond the kernel's 15 bytes the executable's file name decides.
  EXPECT_TRUE(table.hasName(child.pid(), name));
  EXPECT_FALSE(table.hasName(child.pid(), name.substr(0, 15) + "other"));
}

TEST(LinuxProcessTable, AZombieCountsAsEndedAndKillEndsTheProcess) {
  TempDir dir;
  NamedProcess child(dir.path(), "upd-z-");
  LinuxProcessTable table;
  table.kill(child.pid());
  siginfo_t info{};  // wait until it has ended, without reaping it
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOWAIT), 0);
  // Still listed by the kernel, but neither found by name nor running.
  EXPECT_TRUE(listed(table, child.pid()));
  EXPECT_EQ(table.shortName(child.pid()), std::nullopt);
  EXPECT_FALSE(table.hasName(child.pid(), child.name));
  EXPECT_FALSE(table.isRunning(child.pid()));
  EXPECT_TRUE(info.si_code == CLD_KILLED && info.si_status == SIGKILL);
  child.child->wait();
  EXPECT_FALSE(table.isRunning(child.pid()));
}

TEST(LinuxProcessTable, IdsThatNameNoProcess) {
  LinuxProcessTable table;
  const int noSuchPid = 0x3FFFFFFF;  // above any pid_max
  for (int pid : {noSuchPid, 0, -1}) EXPECT_FALSE(table.isRunning(pid)) << pid;
  EXPECT_FALSE(table.hasName(noSuchPid, "sleep"));
  EXPECT_TRUE(table.isRunning(1));
  EXPECT_TRUE(LinuxProcessTable("/nonexistent-proc-root").listIds().empty());
}

TEST(LinuxProcessTable, AProcessOfAnotherUserRuns) {
  // Probing another user's process is refused (EPERM), which still means it
  // exists. As root, the probe is made from a child that became "nobody".
  EXPECT_EQ(testing_support::asOrdinaryUser([] { return LinuxProcessTable().isRunning(1) ? 0 : 1; }), 0);
}

// A hand-made proc tree checks how records are read, whatever runs here.
TEST(LinuxProcessTable, ReadsRecordsOfAProcTree) {
  TempDir dir;
  auto process = [&](int pid, const std::string& statLine, const std::string& exeTarget = "") {
    dir.write(std::to_string(pid) + "/stat", statLine);
    if (!exeTarget.empty()) fs::create_symlink(exeTarget, dir / (std::to_string(pid) + "/exe"));
  };
  const std::string name = "a-very-long-program-name", kernelName = name.substr(0, 15);
  process(5, "5 (my (odd) app) R 1 5 5 0");
  process(8, "8 (half");
  process(11, "11 (gone) Z 1");
  process(20, "20 (" + kernelName + ") S 1", "/opt/app/" + name);
  process(21, "21 (" + kernelName + ") S 1", "/opt/app/" + name + " (deleted)");  // replaced while it ran
  process(22, "22 (" + kernelName + ") S 1");                                     // link not readable
  dir.mkdir("self");
  dir.mkdir("-3");
  LinuxProcessTable table(dir.path());
  std::vector<int> ids = table.listIds();
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<int>{5, 8, 11, 20, 21, 22}));
  EXPECT_EQ(table.shortName(5), "my (odd) app");
  EXPECT_TRUE(table.hasName(5, "my (odd) app"));
  for (int pid : {8, 9, 11}) EXPECT_EQ(table.shortName(pid), std::nullopt) << pid;
  EXPECT_FALSE(table.hasName(11, "gone"));
  EXPECT_TRUE(table.hasName(20, name) && table.hasName(21, name));
  EXPECT_FALSE(table.hasName(22, name));
}
