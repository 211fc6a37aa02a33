// The wait action's search and timing on a process table in memory; the
// real table and real processes are exercised by the end-to-end runs.
#include <map>

#include "actions/ActionTestSupport.h"
#include "actions/WaitAppFinishAction.h"

using namespace action_testing;

namespace {

// Each process runs for a given number of probes (or forever) and records
// the probes and kills it receives.
class FakeProcessTable : public platform::ProcessTable {
 public:
  void add(int pid, const std::string& name, long probesWhileRunning = -1) {
    order.push_back(pid);
    processes[pid] = {name, probesWhileRunning};
  }
  std::vector<int> listIds() const override { return order; }
  std::optional<std::string> shortName(int pid) const override {
    auto found = processes.find(pid);
    return found == processes.end() ? std::nullopt : std::optional<std::string>(found->second.first);
  }
  bool isRunning(int pid) const override {
    probes.push_back(pid);
    long runsFor = processes.at(pid).second;
    return runsFor < 0 || static_cast<long>(probes.size()) <= runsFor;
  }
  void kill(int pid) const override { kills.push_back(pid); }

  std::vector<int> order;
  mutable std::vector<int> probes, kills;
  std::map<int, std::pair<std::string, long>> processes;
};

struct FakeWait {
  explicit FakeWait(const std::string& json) {
    rapidjson::Document object = parseJson(json);
    printed = outputOf([&] { action = std::make_unique<WaitAppFinishAction>(object, table, [this] { ++pauses; }); });
  }
  std::string perform() {
    return outputOf([&] { action->perform(); });
  }

  std::shared_ptr<FakeProcessTable> table = std::make_shared<FakeProcessTable>();
  std::unique_ptr<WaitAppFinishAction> action;
  std::string printed;
  unsigned long pauses = 0;
};

const std::string kStart = "Wait for application finish App\n";
const std::string kFinished = kStart + "Application App is finished \n";
const std::string kTimeout = kStart + "Application App finish timeout \n";
const std::string kKilled = kTimeout + "Kill application App";

}  // namespace

TEST(WaitAppFinish, ProbesPausesAndKills) {
  struct Case {
    std::string fields;  // after "program":"App"
    long runsFor;        // probes while the process runs; -1 forever
    std::string output;
    unsigned long pauses;
    bool killed;
  };
  for (const Case& c : std::vector<Case>{
           {R"(,"close_on_timeout":true)", 0, kFinished, 0, false},  // the first probe comes at once
           {R"(,"close_on_timeout":true)", 3, kFinished, 3, false},
           {"", -1, kTimeout, 10, false},                // ten seconds by default
           {R"(,"timeout":1)", -1, kTimeout, 1, false},  // rounded up to whole seconds
           {R"(,"timeout":1001)", -1, kTimeout, 2, false},
           {R"(,"timeout":1500,"close_on_timeout":true)", -1, kKilled, 2, true},
           // Fields of another type keep their defaults.
           {R"(,"timeout":2.5,"close_on_timeout":"true")", -1, kTimeout, 10, false},
           {R"(,"timeout":4294967296)", -1, kTimeout, 10, false},
           // A negative time-out counts as its unsigned 32-bit value; the
           // elapsed time must not wrap before reaching it.
           {R"(,"timeout":-1000)", 25000, kFinished, 25000, false},
           {R"(,"timeout":-1)", -1, kTimeout, 4294968, false},
       }) {
    SCOPED_TRACE(c.fields);
    FakeWait wait(R"({"program":"App")" + c.fields + "}");
    EXPECT_EQ(wait.printed, "");
    wait.table->add(5, "App", c.runsFor);
    EXPECT_EQ(wait.perform(), c.output);
    EXPECT_EQ(wait.pauses, c.pauses);
    // One probe after each pause, plus the first one when the process ends.
    EXPECT_EQ(wait.table->probes.size(), c.pauses + (c.output == kFinished ? 1 : 0));
    EXPECT_EQ(wait.table->kills, c.killed ? std::vector<int>{5} : std::vector<int>{});
  }
}
