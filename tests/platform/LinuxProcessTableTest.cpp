#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

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

}  // namespace

TEST(LinuxProcessTable, FindsStartedChildrenByTheirWholeNames) {
  TempDir dir;
  NamedProcess child(dir.path(), "upd-p-"), longer(dir.path(), "upd-long-name-xy");  // 22 bytes: the kernel keeps 15
  const std::string name = child.name(), longName = longer.name();
  LinuxProcessTable table;
  EXPECT_TRUE(listed(table, child.pid()));
  EXPECT_TRUE(listed(table, ::getpid()));
  EXPECT_TRUE(table.isRunning(child.pid()));
  EXPECT_EQ(table.shortName(child.pid()), name);
  EXPECT_EQ(table.shortName(longer.pid()), longName.substr(0, 15));
  const std::pair<int, std::string> matching[] = {
      {child.pid(), name}, {longer.pid(), longName}, {longer.pid(), longName.substr(0, 15)}};
  for (const auto& [pid, candidate] : matching) EXPECT_TRUE(table.hasName(pid, candidate)) << candidate;
  // Longer names need the executable's file name beyond the kernel's 15 bytes.
  const std::pair<int, std::string> other[] = {{child.pid(), name + "x"},
                                               {child.pid(), name.substr(0, name.size() - 1)},
                                               {longer.pid(), longName.substr(0, 15) + "other"},
                                               {longer.pid(), longName + "z"},
                                               {longer.pid(), longName.substr(0, 14)}};
  for (const auto& [pid, candidate] : other) EXPECT_FALSE(table.hasName(pid, candidate)) << candidate;
}

TEST(LinuxProcessTable, AZombieCountsAsEndedAndKillEndsTheProcess) {
  TempDir dir;
  NamedProcess child(dir.path(), "upd-z-");
  LinuxProcessTable table;
  table.kill(child.pid());
  ASSERT_TRUE(child.becomesZombie());
  // Still listed by the kernel, but neither found by name nor running.
  EXPECT_TRUE(listed(table, child.pid()));
  EXPECT_EQ(table.shortName(child.pid()), std::nullopt);
  EXPECT_FALSE(table.hasName(child.pid(), child.name()));
  EXPECT_FALSE(table.isRunning(child.pid()));
  int status = child.reap();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_FALSE(listed(table, child.pid()));
  EXPECT_FALSE(table.isRunning(child.pid()));
}

TEST(LinuxProcessTable, IdsThatNameNoProcessAndOnesOwnedByOthers) {
  LinuxProcessTable table;
  const int noSuchPid = 0x3FFFFFFF;  // above any pid_max
  for (int pid : {noSuchPid, 0, -1}) EXPECT_FALSE(table.isRunning(pid)) << pid;
  EXPECT_EQ(table.shortName(noSuchPid), std::nullopt);
  EXPECT_FALSE(table.hasName(noSuchPid, "sleep"));
  EXPECT_TRUE(table.isRunning(1));
  EXPECT_TRUE(LinuxProcessTable("/nonexistent-proc-root").listIds().empty());
  EXPECT_NE(dynamic_cast<const LinuxProcessTable*>(platform::systemProcessTable().get()), nullptr);
}

TEST(LinuxProcessTable, AProcessOfAnotherUserRuns) {
  // Probing another user's process is refused (EPERM), which still means it
  // exists. As root, the probe is made from a child that became "nobody".
  pid_t child = ::fork();
  if (child == 0) {
    if (::getuid() == 0 && ::setuid(65534) != 0) ::_exit(2);
    ::_exit(LinuxProcessTable().isRunning(1) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
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
  process(6, "6 () S 1");
  process(8, "8 (half");
  process(11, "11 (gone) Z 1");
  process(20, "20 (" + kernelName + ") S 1", "/opt/app/" + name);
  process(21, "21 (" + kernelName + ") S 1", "/opt/app/" + name + " (deleted)");  // replaced while it ran
  process(22, "22 (" + kernelName + ") S 1");                                     // link not readable
  process(23, "23 (" + kernelName + ") S 1", "/opt/app/a-very-long-program-other");
  process(24, "24 (" + name.substr(0, 14) + ") S 1", "/opt/app/" + name);
  dir.mkdir("self");
  dir.mkdir("12ab");
  dir.mkdir("-3");
  dir.write("1000", "a file named like a process");
  LinuxProcessTable table(dir.path());
  std::vector<int> ids = table.listIds();
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<int>{5, 6, 8, 11, 20, 21, 22, 23, 24, 1000}));
  EXPECT_EQ(table.shortName(5), "my (odd) app");
  EXPECT_TRUE(table.hasName(5, "my (odd) app"));
  EXPECT_EQ(table.shortName(6), "");
  for (int pid : {8, 9, 11}) EXPECT_EQ(table.shortName(pid), std::nullopt) << pid;
  EXPECT_FALSE(table.hasName(11, "gone"));
  std::vector<bool> matches;
  for (int pid : {20, 21, 22, 23, 24}) matches.push_back(table.hasName(pid, name));
  EXPECT_EQ(matches, (std::vector<bool>{true, true, false, false, false}));
}
