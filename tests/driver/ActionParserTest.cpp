#include <string>

#include "actions/ActionTestSupport.h"
#include "actions/ExecuteAction.h"
#include "driver/ActionParser.h"

using namespace action_testing;

namespace {

struct Parsed {
  ActionList actions;
  std::string output;
};

Parsed actionsOf(const std::string& manifest, int set = 0) {
  rapidjson::Document document = parseJson(manifest);
  Parsed parsed;
  parsed.output = outputOf([&] { parsed.actions = ActionParser::getActionList(document, set); });
  return parsed;
}

}  // namespace

TEST(ActionSets, SetLevelProblemsGiveAnEmptyListAndOneLine) {
  struct Case {
    const char* manifest;
    int set;
    const char* line;
  };
  for (const Case& c : {
           Case{R"({"actions":[[]]})", 0, ""},
           Case{R"({})", 0, "JSON has no actions member\n"},
           Case{R"({"actions":{"0":[]}})", 0, "Actions isn't array\n"},
           Case{R"({"actions":[[],[]]})", 2, "Invalid set number\n"},
           Case{R"({"actions":[[]]})", -2147483647 - 1, "Invalid set number\n"},
           Case{R"({"actions":[{"type":"delay","value":1}]})", 0, "Actrions set is not array\n"},
       }) {
    Parsed parsed = actionsOf(c.manifest, c.set);
    EXPECT_TRUE(parsed.actions.empty()) << c.manifest;
    EXPECT_EQ(parsed.output, c.line) << c.manifest << " set " << c.set;
  }
}

TEST(ActionSets, TheListOutlivesTheDocument) {
  ActionList list;
  {
    rapidjson::Document document =
        parseJson(R"({"actions":[[{"type":"execute","program":"run it","wait":true,"description":"Run"}]]})");
    list = ActionParser::getActionList(document, 0);
    document.SetNull();
  }
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->getDescription(), "Run");
  EXPECT_EQ(dynamic_cast<ExecuteAction&>(*list[0]).commandLine(), "run it");
}
