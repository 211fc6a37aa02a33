#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

#include "actions/ActionTestHelpers.h"
#include "actions/ExecuteAction.h"
#include "driver/AliasResolver.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using action_testing::outputOf;
using action_testing::parseJson;
using testing_support::readFile;
using testing_support::TempDir;

namespace {

std::shared_ptr<ExecuteAction> executeFrom(const std::string& json, std::string* printed = nullptr) {
  rapidjson::Document object = parseJson(json);
  std::shared_ptr<ExecuteAction> action;
  std::string text = outputOf([&] { action = std::make_shared<ExecuteAction>(object); });
  if (printed != nullptr) *printed = text;
  return action;
}

// Polls `file` for up to ten seconds until it holds `content`.
bool eventuallyHolds(const fs::path& file, const std::string& content) {
  for (int i = 0; i < 1000; ++i) {
    if (fs::exists(file) && readFile(file) == content) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

TEST(ExecuteActionFields, ProgramIsRequired) {
  for (const char* json : {R"({"type":"execute"})", R"({"program":5})", R"({"program":["ls"]})",
                           R"({"program":null,"wait":true,"arguments":["a"]})"}) {
    std::string printed;
    auto action = executeFrom(json, &printed);
    EXPECT_FALSE(action->isValid()) << json;
    EXPECT_EQ(printed, "Fail to parse Execute Action") << json;
  }
}

TEST(ExecuteActionFields, ProgramIsTakenVerbatim) {
  std::string printed;
  auto action = executeFrom(R"({"program":"ls -l '@update.zip' $HOME","wait":true,"description":"List"})", &printed);
  EXPECT_TRUE(action->isValid());
  EXPECT_EQ(printed, "");
  EXPECT_EQ(action->getDescription(), "List");
  EXPECT_EQ(action->commandLine(), "ls -l '@update.zip' $HOME");
}

TEST(ExecuteActionFields, OnlyABooleanTrueWaits) {
  EXPECT_EQ(executeFrom(R"({"program":"p","wait":true})")->commandLine(), "p");
  EXPECT_EQ(executeFrom(R"({"program":"p","wait":false})")->commandLine(), "p&");
  EXPECT_EQ(executeFrom(R"({"program":"p"})")->commandLine(), "p&");
  EXPECT_EQ(executeFrom(R"({"program":"p","wait":"true"})")->commandLine(), "p&");
  EXPECT_EQ(executeFrom(R"({"program":"p","wait":1})")->commandLine(), "p&");
}

TEST(ExecuteActionFields, ArgumentsWithWhiteSpaceAreQuoted) {
  auto action = executeFrom(R"({"program":"open","arguments":["-a","My App"]})");
  EXPECT_EQ(action->commandLine(), "open -a \"My App\"&");

  action =
      executeFrom(R"({"program":"p","wait":true,"arguments":["a\tb","c\nd","e\u000bf","g\fh","i\rj","k l","plain"]})");
  EXPECT_EQ(action->commandLine(), "p \"a\tb\" \"c\nd\" \"e\vf\" \"g\fh\" \"i\rj\" \"k l\" plain");
}

TEST(ExecuteActionFields, NothingElseIsQuotedOrEscaped) {
  // Bytes from 0x80 up (here a no-break space in UTF-8 and U+0085) are not
  // white space; quotes and dollars reach the shell unchanged.
  auto action =
      executeFrom(R"({"program":"p","wait":true,"arguments":["it's","\"q\"","$HOME","a\u00a0b","c\u0085d","","x"]})");
  EXPECT_EQ(action->commandLine(),
            "p it's \"q\" $HOME a\xC2\xA0"
            "b c\xC2\x85"
            "d  x");
}

TEST(ExecuteActionFields, ArgumentsAreCutAtNul) {
  auto action = executeFrom(R"({"program":"p","wait":true,"arguments":["ab\u0000 cd"]})");
  EXPECT_EQ(action->commandLine(), "p ab");
}

TEST(ExecuteActionFields, AnInvalidItemDropsEveryArgument) {
  std::string printed;
  auto action = executeFrom(R"({"program":"run","wait":true,"arguments":["first",5,"third"]})", &printed);
  EXPECT_TRUE(action->isValid());
  EXPECT_EQ(printed, "Field arguments array has invalid items type\n");
  EXPECT_EQ(action->commandLine(), "run");
}

TEST(ExecuteActionFields, ArgumentsThatAreNotAnArrayAreIgnored) {
  std::string printed;
  auto action = executeFrom(R"({"program":"run","arguments":"a b"})", &printed);
  EXPECT_TRUE(action->isValid());
  EXPECT_EQ(printed, "");
  EXPECT_EQ(action->commandLine(), "run&");
}

TEST(ExecuteActionFields, ArgumentsGoThroughTheAliasResolver) {
  AliasResolver::getInstance().addAlias("@update.zip", "/some where/package.zip");
  auto action = executeFrom(R"({"program":"unpack","wait":true,"arguments":["@update.zip","a@update.zip"]})");
  EXPECT_EQ(action->commandLine(), "unpack \"/some where/package.zip\" a@update.zip");
  // "program" is not resolved.
  EXPECT_EQ(executeFrom(R"({"program":"@update.zip","wait":true})")->commandLine(), "@update.zip");
}

TEST(ExecuteActionFields, AnUnboundAliasThrowsOutOfTheConstructor) {
  rapidjson::Document object = parseJson(R"({"program":"p","arguments":["ok","@update.zip/inner"]})");
  AliasResolver::getInstance().addAlias("@update.zip", "/pkg.zip");
  action_testing::CapturedOutput output;
  EXPECT_THROW(ExecuteAction{object}, std::runtime_error);
  EXPECT_EQ(output.text(), "");
}

TEST(ExecuteActionPerform, RunsThroughTheShellAndReportsTheRawStatus) {
  TempDir dir;
  const fs::path out = dir / "out";
  auto action =
      executeFrom(R"({"program":"printf '[%s]'","wait":true,"arguments":["a b","","c",">)" + out.string() + R"("]})");
  const std::string line = "printf '[%s]' \"a b\"  c >" + out.string();
  EXPECT_EQ(outputOf([&] { action->perform(); }),
            "Execute program " + line + "\nExecution program " + line + " result is 0\n");
  EXPECT_EQ(readFile(out), "[a b][c]");
}

TEST(ExecuteActionPerform, StatusIsTheWaitStatusNotTheExitCode) {
  auto action = executeFrom(R"({"program":"exit 3","wait":true})");
  EXPECT_EQ(outputOf([&] { action->perform(); }), "Execute program exit 3\nExecution program exit 3 result is 768\n");
  action = executeFrom(R"({"program":"kill -9 $$","wait":true})");
  EXPECT_EQ(outputOf([&] { action->perform(); }),
            "Execute program kill -9 $$\nExecution program kill -9 $$ result is 9\n");
}

TEST(ExecuteActionPerform, WithoutWaitTheProgramRunsInTheBackground) {
  TempDir dir;
  const fs::path go = dir / "go", done = dir / "done";
  // The program can only finish after perform() has returned and the test
  // has created "go".
  const std::string program =
      "sh -c 'while [ ! -e " + go.string() + " ]; do sleep 0.02; done; echo ran > " + done.string() + "'";
  auto action = executeFrom(R"({"program":")" + program + R"("})");
  EXPECT_EQ(outputOf([&] { action->perform(); }),
            "Execute program " + program + "&\nExecution program " + program + "& result is 0\n");
  EXPECT_FALSE(fs::exists(done));
  dir.write("go", "");
  EXPECT_TRUE(eventuallyHolds(done, "ran\n"));
}
