// The command line an execute action hands to the shell.
#include "actions/ActionTestSupport.h"
#include "actions/ExecuteAction.h"
#include "alias/AliasResolver.h"

using namespace action_testing;

namespace {

std::string commandLineOf(const std::string& json) {
  rapidjson::Document object = parseJson(json);
  std::string line;
  outputOf([&] { line = ExecuteAction(object).commandLine(); });
  return line;
}

}  // namespace

TEST(ExecuteAction, CommandLineFromProgramWaitAndArguments) {
  AliasResolver::getInstance().addAlias("@update.zip", "/some where/package.zip");
  struct Case {
    std::string json, commandLine;
  };
  for (const Case& c : std::vector<Case>{
           {R"({"program":"ls -l '@update.zip' $HOME","wait":true})", "ls -l '@update.zip' $HOME"},
           {R"({"program":"p"})", "p&"},
           {R"({"program":"p","wait":true,"arguments":["a\tb","c\nd","e\u000bf","g\fh","i\rj","k l","plain"]})",
            "p \"a\tb\" \"c\nd\" \"e\vf\" \"g\fh\" \"i\rj\" \"k l\" plain"},
           // Bytes from 0x80 up are not white space; quotes and dollars reach the shell as they are.
           {
               R"({"program":"p","wait":true,"arguments":["it's","\"q\"","$HOME","a\u00a0b","c\u0085d","","x"]})",
               "p it's \"q\" $HOME a\xC2\xA0"
               "b c\xC2\x85"
               "d  x",
           },
           {R"({"program":"p","wait":true,"arguments":["ab\u0000 cd"]})", "p ab"},
           {R"({"program":"run","wait":true,"arguments":["first",5,"third"]})", "run"},
           {R"({"program":"run","wait":true,"arguments":"alone"})", "run"},  // only an array counts
           {R"({"program":"@update.zip","wait":true,"arguments":["@update.zip","a@update.zip"]})",
            "@update.zip \"/some where/package.zip\" a@update.zip"},
       }) {
    EXPECT_EQ(commandLineOf(c.json), c.commandLine) << c.json;
  }
}
