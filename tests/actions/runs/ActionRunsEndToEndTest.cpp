// Whole runs of the execute and wait-for-application actions, on the
// complete standard output and the exit status.
#include <signal.h>

#include "actions/ActionTestSupport.h"

using namespace action_testing;

namespace {

std::string executed(const std::string& line, const std::string& status = "0") {
  return "Execute program " + line + "\nExecution program " + line + " result is " + status + "\n";
}

}  // namespace

TEST(ActionRuns, ExecuteRunsItsCommandLineAndReportsTheRawStatus) {
  TempDir dir;
  const std::string log = (dir / "log").string();
  RunResult result = runActions(dir, replaced(R"(
      {"type":"execute","program":"printf '%s|' >> LOG","wait":true,"description":"First",
       "arguments":["one two","","@update.zip"]},
      {"type":"execute","program":"echo second >> LOG; exit 1","wait":true},
      {"type":"wait_app_finish","program":"upd-none-running","description":"Wait"})",
                                              "LOG", log));
  const std::string package = (dir / "update.zip").string();
  const std::string first = "printf '%s|' >> " + log + " \"one two\"  " + package;
  EXPECT_EQ(result.out, header("update.zip") + announce("First") + executed(first) + announce("") +
                            executed("echo second >> " + log + "; exit 1", "256") + announce("Wait") +
                            "Wait for application finish upd-none-running\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(log), "one two|" + package + "|second\n");
}

TEST(ActionRuns, ExecuteInTheBackgroundDoesNotWait) {
  // The background program waits for a file that only the next action
  // creates; had the updater waited for it, the run would never end.
  TempDir dir;
  const std::string go = (dir / "go").string(), done = (dir / "done").string();
  const std::string program =
      "sh -c 'while [ ! -e " + go + " ]; do sleep 0.02; done; echo ran > " + done + "' >/dev/null 2>&1";
  RunOptions options;
  options.timeoutSeconds = 20;
  RunResult result = runActions(dir,
                                R"({"type":"execute","program":")" + program + R"("},
      {"type":"execute","program":"touch )" +
                                    go + R"(","wait":true})",
                                {}, options);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out,
            header("update.zip") + announce("") + executed(program + "&") + announce("") + executed("touch " + go));
  EXPECT_TRUE(waitUntil([&] { return fs::exists(done) && readFile(done) == "ran\n"; }, 10));
}

TEST(ActionRuns, WaitUntilTheProgramEnds) {
  // The child ends after 1.5 s; the probe at 1 s still finds it, the one at
  // 2 s finds a zombie (it is never reaped during the run), which has ended.
  TempDir dir;
  NamedProcess child(dir.path(), "upd-w-", "1.5");
  RunResult result = runActions(
      dir, R"({"type":"wait_app_finish","program":")" + child.name + R"(","timeout":2500,"close_on_timeout":true})");
  EXPECT_EQ(result.out, header("update.zip") + announce("") + "Wait for application finish " + child.name +
                            "\nApplication " + child.name + " is finished \n");
  EXPECT_EQ(child.child->wait(), 0);
}

TEST(ActionRuns, WaitTimesOutThenKillsOrLeavesTheProgramAlone) {
  TempDir dir;
  NamedProcess kept(dir.path(), "upd-k-"), killed(dir.path(), "upd-w-");
  RunResult result = runActions(dir, replaced(replaced(R"(
      {"type":"wait_app_finish","program":"KEPT","timeout":0,"close_on_timeout":"yes"},
      {"type":"wait_app_finish","program":"KILLED","timeout":1500,"close_on_timeout":true,"description":"Wait"},
      {"type":"delay","value":0,"description":"Next"})",
                                                       "KEPT", kept.name),
                                              "KILLED", killed.name));
  const std::string timeout = " finish timeout \n";
  EXPECT_EQ(result.out, header("update.zip") + announce("") + "Wait for application finish " + kept.name +
                            "\nApplication " + kept.name + timeout + announce("Wait") + "Wait for application finish " +
                            killed.name + "\nApplication " + killed.name + timeout + "Kill application " + killed.name +
                            announce("Next") + "Do delay for 0ms\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(killed.child->wait(), 128 + SIGKILL);
  EXPECT_FALSE(kept.child->poll());  // still running
}

TEST(ActionRuns, TheUpdaterNeverWaitsForOrKillsItself) {
  TempDir dir;
  const std::string name = "upd-self-" + std::to_string(::getpid() % 100000);
  fs::copy_file(updaterPath(), dir / name);
  makeManifestPackage(dir / "update.zip", R"({"actions": [[{"type":"wait_app_finish","program":")" + name +
                                              R"(","timeout":0,"close_on_timeout":true},
      {"type":"delay","value":0,"description":"Next"}]]})");
  RunResult result = run((dir / name).string(), {"-f", "update.zip"}, {dir.path()});
  EXPECT_EQ(result.out, header("update.zip") + announce("") + "Wait for application finish " + name + "\n" +
                            announce("Next") + "Do delay for 0ms\n");
  EXPECT_EQ(result.status, 0);
}
