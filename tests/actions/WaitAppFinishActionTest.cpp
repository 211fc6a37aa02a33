#include <gtest/gtest.h>
#include <sys/wait.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "actions/ActionTestHelpers.h"
#include "actions/WaitAppFinishAction.h"
#include "platform/LinuxProcessTable.h"
#include "platform/NamedProcess.h"
#include "support/TempDir.h"

using action_testing::outputOf;
using action_testing::parseJson;
using testing_support::NamedProcess;
using testing_support::TempDir;

namespace {

// A process table in memory. Each process runs for a given number of probes
// (or forever) and records the probes and kills it receives.
class FakeProcessTable : public platform::ProcessTable {
 public:
  static constexpr long kForever = -1;

  void add(int pid, const std::string& name, long probesWhileRunning = kForever) {
    order.push_back(pid);
    processes[pid] = Process{name, probesWhileRunning};
  }

  std::vector<int> listIds() const override { return order; }
  std::optional<std::string> shortName(int pid) const override {
    auto found = processes.find(pid);
    if (found == processes.end()) return std::nullopt;
    return found->second.name;
  }
  bool isRunning(int pid) const override {
    probes.push_back(pid);
    const Process& process = processes.at(pid);
    return process.runsFor == kForever || static_cast<long>(probes.size()) <= process.runsFor;
  }
  void kill(int pid) const override { kills.push_back(pid); }

  std::vector<int> order;
  mutable std::vector<int> probes;
  mutable std::vector<int> kills;

 private:
  struct Process {
    std::string name;
    long runsFor;
  };
  std::map<int, Process> processes;
};

// Builds a wait action on a fake table whose pauses are only counted.
struct FakeWait {
  explicit FakeWait(const std::string& json) {
    rapidjson::Document object = parseJson(json);
    constructorOutput =
        outputOf([&] { action = std::make_shared<WaitAppFinishAction>(object, table, [this] { ++pauses; }); });
  }
  std::string perform() {
    return outputOf([&] { action->perform(); });
  }

  std::shared_ptr<FakeProcessTable> table = std::make_shared<FakeProcessTable>();
  std::shared_ptr<WaitAppFinishAction> action;
  std::string constructorOutput;
  unsigned long pauses = 0;
};

}  // namespace

TEST(WaitAppFinishFields, ProgramIsRequired) {
  for (const char* json : {R"({})", R"({"program":3})", R"({"program":null,"timeout":5})"}) {
    FakeWait wait(json);
    EXPECT_FALSE(wait.action->isValid()) << json;
    EXPECT_EQ(wait.constructorOutput, "Fail to parse Wait App Finish Action") << json;
  }
  FakeWait good(R"({"program":"App","description":"Wait for App"})");
  EXPECT_TRUE(good.action->isValid());
  EXPECT_EQ(good.constructorOutput, "");
  EXPECT_EQ(good.action->getDescription(), "Wait for App");
}

TEST(WaitAppFinishSearch, FirstListedProcessWithTheWholeName) {
  FakeWait wait(R"({"program":"App"})");
  wait.table->add(0, "App");
  wait.table->add(30, "AppHelper");
  wait.table->add(31, "app");
  wait.table->add(32, "Ap");
  wait.table->add(40, "App");
  wait.table->add(35, "App");
  EXPECT_EQ(wait.action->getAppPid(), 40);
}

TEST(WaitAppFinishSearch, NoMatchGivesMinusOne) {
  FakeWait wait(R"({"program":"App"})");
  EXPECT_EQ(wait.action->getAppPid(), -1);
  wait.table->add(12, "Other");
  EXPECT_EQ(wait.action->getAppPid(), -1);
}

TEST(WaitAppFinishPerform, ProgramNotRunningPrintsOneLine) {
  FakeWait wait(R"({"program":"App","close_on_timeout":true})");
  wait.table->add(12, "Other");
  EXPECT_EQ(wait.perform(), "Wait for application finish App\n");
  EXPECT_TRUE(wait.table->probes.empty());
  EXPECT_TRUE(wait.table->kills.empty());
  EXPECT_EQ(wait.pauses, 0u);
}

TEST(WaitAppFinishPerform, FirstProbeComesAtOnce) {
  FakeWait wait(R"({"program":"App"})");
  wait.table->add(77, "App", 0);
  EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App is finished \n");
  EXPECT_EQ(wait.table->probes, std::vector<int>{77});
  EXPECT_EQ(wait.pauses, 0u);
}

TEST(WaitAppFinishPerform, EndsWhenTheProcessEnds) {
  FakeWait wait(R"({"program":"App","close_on_timeout":true})");
  wait.table->add(77, "App", 3);
  EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App is finished \n");
  EXPECT_EQ(wait.table->probes.size(), 4u);
  EXPECT_EQ(wait.pauses, 3u);
  EXPECT_TRUE(wait.table->kills.empty());
}

TEST(WaitAppFinishPerform, DefaultTimeoutIsTenProbesAndTenSeconds) {
  FakeWait wait(R"({"program":"App"})");
  wait.table->add(5, "App");
  EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App finish timeout \n");
  EXPECT_EQ(wait.table->probes.size(), 10u);
  EXPECT_EQ(wait.pauses, 10u);
  EXPECT_TRUE(wait.table->kills.empty());
}

TEST(WaitAppFinishPerform, TimeoutIsRoundedUpToWholeSeconds) {
  for (auto [timeout, seconds] :
       std::vector<std::pair<int, unsigned long>>{{1, 1}, {999, 1}, {1000, 1}, {1001, 2}, {1500, 2}, {2000, 2}}) {
    FakeWait wait(R"({"program":"App","timeout":)" + std::to_string(timeout) + "}");
    wait.table->add(5, "App");
    EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App finish timeout \n") << timeout;
    EXPECT_EQ(wait.table->probes.size(), seconds) << timeout;
    EXPECT_EQ(wait.pauses, seconds) << timeout;
  }
}

TEST(WaitAppFinishPerform, KillOnTimeoutHasNoLineEnd) {
  FakeWait wait(R"({"program":"App","timeout":1500,"close_on_timeout":true})");
  wait.table->add(5, "App");
  EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App finish timeout \nKill application App");
  EXPECT_EQ(wait.table->kills, std::vector<int>{5});
}

TEST(WaitAppFinishPerform, ZeroTimeoutDoesNotProbe) {
  FakeWait wait(R"({"program":"App","timeout":0,"close_on_timeout":true})");
  wait.table->add(5, "App");
  EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App finish timeout \nKill application App");
  EXPECT_TRUE(wait.table->probes.empty());
  EXPECT_EQ(wait.pauses, 0u);
  EXPECT_EQ(wait.table->kills, std::vector<int>{5});
}

TEST(WaitAppFinishPerform, OptionalFieldsOfAnotherTypeKeepTheirDefaults) {
  for (const char* json :
       {R"({"program":"App","timeout":2.5,"close_on_timeout":"true"})",
        R"({"program":"App","timeout":"2000","close_on_timeout":1})", R"({"program":"App","timeout":4294967296})"}) {
    FakeWait wait(json);
    wait.table->add(5, "App");
    EXPECT_TRUE(wait.action->isValid());
    EXPECT_EQ(wait.constructorOutput, "");
    EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App finish timeout \n") << json;
    EXPECT_EQ(wait.pauses, 10u) << json;
    EXPECT_TRUE(wait.table->kills.empty()) << json;
  }
}

TEST(WaitAppFinishPerform, NegativeTimeoutWaitsForTheProcess) {
  FakeWait wait(R"({"program":"App","timeout":-1000})");
  wait.table->add(5, "App", 25000);
  EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App is finished \n");
  EXPECT_EQ(wait.pauses, 25000u);
}

TEST(WaitAppFinishPerform, LargestTimeoutsEndAfterAbout49Days) {
  // Counted in 32 bits the elapsed time would wrap before reaching these
  // limits and the wait would never end.
  for (auto [timeout, seconds] :
       std::vector<std::pair<long, unsigned long>>{{-1, 4294968}, {-295, 4294968}, {-296, 4294967}, {-1001, 4294967}}) {
    FakeWait wait(R"({"program":"App","timeout":)" + std::to_string(timeout) + "}");
    wait.table->add(5, "App");
    EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App finish timeout \n") << timeout;
    EXPECT_EQ(wait.pauses, seconds) << timeout;
  }
}

TEST(WaitAppFinishPerform, FollowsTheOneProcessFound) {
  FakeWait wait(R"({"program":"App","timeout":3000})");
  wait.table->add(8, "App", 1);
  wait.table->add(9, "App");
  EXPECT_EQ(wait.perform(), "Wait for application finish App\nApplication App is finished \n");
  EXPECT_EQ(wait.table->probes, (std::vector<int>{8, 8}));
}

TEST(WaitAppFinishRealProcess, FindsAndOutlastsAChild) {
  TempDir dir;
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-w-"));
  rapidjson::Document object = parseJson(R"({"program":")" + child.name() + R"(","timeout":5000})");
  // The child is killed during the first pause; unreaped, it is a zombie,
  // which counts as ended.
  int pauses = 0;
  WaitAppFinishAction action(object, std::make_shared<platform::LinuxProcessTable>(), [&] {
    ++pauses;
    child.kill();
    ASSERT_TRUE(child.becomesZombie());
  });
  EXPECT_EQ(action.getAppPid(), child.pid());
  EXPECT_EQ(outputOf([&] { action.perform(); }),
            "Wait for application finish " + child.name() + "\nApplication " + child.name() + " is finished \n");
  EXPECT_EQ(pauses, 1);
  EXPECT_EQ(action.getAppPid(), -1);
}

TEST(WaitAppFinishRealProcess, KillsTheChildOnTimeout) {
  TempDir dir;
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-w-"));
  rapidjson::Document object =
      parseJson(R"({"program":")" + child.name() + R"(","timeout":2000,"close_on_timeout":true})");
  int pauses = 0;
  WaitAppFinishAction action(object, std::make_shared<platform::LinuxProcessTable>(), [&] { ++pauses; });
  EXPECT_EQ(outputOf([&] { action.perform(); }), "Wait for application finish " + child.name() + "\nApplication " +
                                                     child.name() + " finish timeout \nKill application " +
                                                     child.name());
  EXPECT_EQ(pauses, 2);
  int status = child.reap();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
}
