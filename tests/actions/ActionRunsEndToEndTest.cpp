// Whole runs of the updater on real packages: the action-set messages and
// the delay, execute and wait-for-application actions, compared on the
// complete standard output and the exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/NamedProcess.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace fs = std::filesystem;
using testing_support::header;
using testing_support::NamedProcess;
using testing_support::readFile;
using testing_support::RunResult;
using testing_support::TempDir;

namespace {

class ActionRuns : public ::testing::Test {
 protected:
  // Packs `manifest` and runs the updater on it from the temporary folder,
  // with the package named by a relative path.
  RunResult runWith(const std::string& manifest, const std::vector<std::string>& extraArgs = {}) {
    testing_support::makeManifestPackage(dir / "package.zip", manifest);
    std::vector<std::string> args = {"-f", "package.zip"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    testing_support::RunOptions options;
    options.cwd = dir.path();
    options.timeoutSeconds = 30;
    return testing_support::runUpdater(args, options);
  }

  static std::string perform(const std::string& description) { return "\nPerform action: " + description + "\n"; }

  TempDir dir;
};

}  // namespace

TEST_F(ActionRuns, SetLevelMessages) {
  struct Case {
    const char* manifest;
    const char* set;
    const char* shownSet;
    const char* line;
  };
  for (const Case& c : {
           Case{R"({"name":"no sets"})", "0", "0", "JSON has no actions member\n"},
           Case{R"({"actions":{"a":1}})", "0", "0", "Actions isn't array\n"},
           Case{R"({"actions":[]})", "0", "0", "Invalid set number\n"},
           Case{R"({"actions":[[],[{"type":"delay","value":1}]]})", "2", "2", "Invalid set number\n"},
           Case{R"({"actions":[[{"type":"delay","value":1}]]})", "-1", "4294967295", "Invalid set number\n"},
           Case{R"({"actions":[[],"set"]})", "1", "1", "Actrions set is not array\n"},
       }) {
    RunResult result = runWith(c.manifest, {"-s", c.set});
    EXPECT_EQ(result.out, header("package.zip", c.shownSet) + c.line) << c.manifest;
    EXPECT_EQ(result.status, 0) << c.manifest;
  }
}

TEST_F(ActionRuns, TheLastSetIsPerformedAlone) {
  RunResult result = runWith(R"({"actions":[[{"type":"delay","value":1,"description":"first set"}],
                                            [{"type":"delay","value":2,"description":"second set"}]]})",
                             {"-s", "1"});
  EXPECT_EQ(result.out, header("package.zip", "1") + perform("second set") + "Do delay for 2ms\n");
  EXPECT_EQ(result.status, 0);
}

TEST_F(ActionRuns, BadElementsAreSkipped) {
  RunResult result = runWith(R"({"actions":[[5,{},{"type":5},{"type":"Delay","value":1},
                                             {"type":"delay\u0000x","value":3}]]})");
  const std::string skip = "Skip action due invalid/unknown type\n";
  EXPECT_EQ(result.out, header("package.zip") + skip + skip + skip + perform("") + "Do delay for 3ms\n");
  EXPECT_EQ(result.status, 0);
}

TEST_F(ActionRuns, TwoDelays) {
  RunResult result = runWith(R"({"actions":[[{"type":"delay","value":200,"description":"Short pause"},
                                             {"type":"delay","value":-5,"description":7}]]})");
  EXPECT_EQ(result.out, header("package.zip") + perform("Short pause") + "Do delay for 200ms\n" + perform("") +
                            "Do delay for -5ms\n");
  EXPECT_EQ(result.status, 0);
}

TEST_F(ActionRuns, FailingConstructorsShareOneLine) {
  RunResult result = runWith(R"({"actions":[[{"type":"delay","value":"1500"},{"type":"delay","value":1500.0},
                                             {"type":"delay","value":3000000000},{"type":"delay"}]]})");
  EXPECT_EQ(result.out, header("package.zip") +
                            "Fail to parse Delay ActionFail to parse Delay ActionFail to parse Delay Action"
                            "Fail to parse Delay Action");
  EXPECT_EQ(result.status, 0);
}

TEST_F(ActionRuns, ValidAndInvalidActionsOfEveryKindMixed) {
  const std::string log = (dir / "log").string();
  RunResult result = runWith(R"({"actions":[[
      {"type":"delay","value":"x"},
      {"type":"execute","program":"echo first >> )" +
                             log + R"(","wait":true,"description":"First"},
      {"type":"execute","description":"no program"},
      {"type":"wait_app_finish","timeout":100},
      {"type":"unknown kind"},
      {"type":"execute","program":"echo second >> )" +
                             log + R"(","wait":true,"arguments":["x",false]},
      {"type":"wait_app_finish","program":"upd-none-running","description":"Wait"},
      {"type":"delay","value":0,"description":"Done"}]]})");
  const std::string first = "echo first >> " + log, second = "echo second >> " + log;
  EXPECT_EQ(result.out, header("package.zip") +
                            "Fail to parse Delay ActionFail to parse Execute ActionFail to parse Wait App Finish Action"
                            "Field arguments array has invalid items type\n" +
                            perform("First") + "Execute program " + first + "\nExecution program " + first +
                            " result is 0\n" + perform("") + "Execute program " + second + "\nExecution program " +
                            second + " result is 0\n" + perform("Wait") +
                            "Wait for application finish upd-none-running\n" + perform("Done") + "Do delay for 0ms\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(log), "first\nsecond\n");
}

TEST_F(ActionRuns, ExecuteRunsInOrderAndReportsRawStatus) {
  const std::string log = (dir / "log").string();
  RunResult result = runWith(R"({"actions":[[
      {"type":"execute","program":"printf '%s|' >> )" +
                             log + R"(","wait":true,"arguments":["one two","","3"]},
      {"type":"execute","program":"echo failing >> )" +
                             log + R"(; exit 1","wait":true},
      {"type":"execute","program":"echo after >> )" +
                             log + R"(","wait":true}]]})");
  const std::string a = "printf '%s|' >> " + log + " \"one two\"  3";
  const std::string b = "echo failing >> " + log + "; exit 1";
  const std::string c = "echo after >> " + log;
  EXPECT_EQ(result.out, header("package.zip") + perform("") + "Execute program " + a + "\nExecution program " + a +
                            " result is 0\n" + perform("") + "Execute program " + b + "\nExecution program " + b +
                            " result is 256\n" + perform("") + "Execute program " + c + "\nExecution program " + c +
                            " result is 0\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(log), "one two|3|failing\nafter\n");
}

TEST_F(ActionRuns, ExecuteInTheBackgroundDoesNotWait) {
  // The background program waits for a file that only the next action
  // creates; had the updater waited for it, the run would never end.
  const std::string go = (dir / "go").string(), done = (dir / "done").string();
  const std::string program =
      "sh -c 'while [ ! -e " + go + " ]; do sleep 0.02; done; echo ran > " + done + "' >/dev/null 2>&1";
  RunResult result = runWith(R"({"actions":[[{"type":"execute","program":")" + program + R"("},
      {"type":"execute","program":"touch )" +
                             go + R"(","wait":true}]]})");
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, header("package.zip") + perform("") + "Execute program " + program + "&\nExecution program " +
                            program + "& result is 0\n" + perform("") + "Execute program touch " + go +
                            "\nExecution program touch " + go + " result is 0\n");
  for (int i = 0; i < 1000 && !(fs::exists(done) && readFile(done) == "ran\n"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(readFile(done), "ran\n");
}

TEST_F(ActionRuns, ExecuteArgumentNamesThePackage) {
  const std::string out = (dir / "out").string();
  RunResult result = runWith(R"({"actions":[[
      {"type":"execute","program":"printf %s","wait":true,"arguments":["@update.zip",">)" +
                             out + R"("]}]]})");
  const std::string line = "printf %s " + (dir / "package.zip").string() + " >" + out;
  EXPECT_EQ(result.out, header("package.zip") + perform("") + "Execute program " + line + "\nExecution program " +
                            line + " result is 0\n");
  EXPECT_EQ(readFile(out), (dir / "package.zip").string());
}

TEST_F(ActionRuns, UnboundAliasInArgumentsEndsTheRunBeforeAnyAction) {
  const std::string marker = (dir / "marker").string();
  RunResult result = runWith(R"({"actions":[[
      {"type":"execute","program":"touch )" +
                             marker + R"(","wait":true},
      {"type":"delay"},
      {"type":"execute","program":"ls","arguments":["@update.zip/manifest.json"]},
      {"type":"delay","value":1}]]})");
  EXPECT_EQ(result.out, header("package.zip") + "Fail to parse Delay ActionUpdate failed: Alias does not found\n");
  EXPECT_NE(result.status, 0);
  EXPECT_FALSE(fs::exists(marker));
}

TEST_F(ActionRuns, WaitForAProgramThatIsNotRunning) {
  const std::string name = NamedProcess::uniqueName("upd-n-");
  RunResult result = runWith(R"({"actions":[[{"type":"wait_app_finish","program":")" + name +
                             R"(","timeout":0,"close_on_timeout":true}]]})");
  EXPECT_EQ(result.out, header("package.zip") + perform("") + "Wait for application finish " + name + "\n");
  EXPECT_EQ(result.status, 0);
}

TEST_F(ActionRuns, WaitUntilTheProgramEnds) {
  // The child ends after 1.5 s; the probe at 1 s still finds it, the one at
  // 2 s does not (it is then an unreaped zombie of this test).
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-w-"), "1.5");
  RunResult result = runWith(R"({"actions":[[{"type":"wait_app_finish","program":")" + child.name() +
                             R"(","timeout":2500,"close_on_timeout":true},{"type":"delay","value":0}]]})");
  EXPECT_EQ(result.out, header("package.zip") + perform("") + "Wait for application finish " + child.name() +
                            "\nApplication " + child.name() + " is finished \n" + perform("") + "Do delay for 0ms\n");
  int status = child.reap();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(ActionRuns, WaitTimesOutAndKills) {
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-w-"));
  RunResult result = runWith(R"({"actions":[[{"type":"wait_app_finish","program":")" + child.name() +
                             R"(","timeout":1500,"close_on_timeout":true,"description":"Wait"},
                             {"type":"delay","value":0,"description":"Next"}]]})");
  EXPECT_EQ(result.out, header("package.zip") + perform("Wait") + "Wait for application finish " + child.name() +
                            "\nApplication " + child.name() + " finish timeout \nKill application " + child.name() +
                            perform("Next") + "Do delay for 0ms\n");
  int status = child.reap();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST_F(ActionRuns, WaitWithZeroTimeoutLeavesTheProgramAlone) {
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-w-"));
  RunResult result = runWith(R"({"actions":[[{"type":"wait_app_finish","program":")" + child.name() +
                             R"(","timeout":0,"close_on_timeout":"yes"}]]})");
  EXPECT_EQ(result.out, header("package.zip") + perform("") + "Wait for application finish " + child.name() +
                            "\nApplication " + child.name() + " finish timeout \n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(::waitpid(child.pid(), nullptr, WNOHANG), 0);  // still running
}

TEST_F(ActionRuns, KillLineIsTheLastOutput) {
  NamedProcess child(dir.path(), NamedProcess::uniqueName("upd-w-"));
  RunResult result = runWith(R"({"actions":[[{"type":"wait_app_finish","program":")" + child.name() +
                             R"(","timeout":0,"close_on_timeout":true}]]})");
  EXPECT_EQ(result.out, header("package.zip") + perform("") + "Wait for application finish " + child.name() +
                            "\nApplication " + child.name() + " finish timeout \nKill application " + child.name());
  EXPECT_EQ(result.status, 0);
  int status = child.reap();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}
