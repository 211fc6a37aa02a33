#include <string>

#include "actions/ActionTestSupport.h"
#include "actions/DelayAction.h"
#include "actions/ExecuteAction.h"
#include "actions/WaitAppFinishAction.h"
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
           Case{R"({"Actions":[[]]})", 0, "JSON has no actions member\n"},
           Case{R"({"actions":{"0":[]}})", 0, "Actions isn't array\n"},
           Case{R"({"actions":"[]"})", 0, "Actions isn't array\n"},
           Case{R"({"actions":[]})", 0, "Invalid set number\n"},
           Case{R"({"actions":[[],[]]})", 2, "Invalid set number\n"},
           Case{R"({"actions":[[]]})", -1, "Invalid set number\n"},
           Case{R"({"actions":[[]]})", -2147483647 - 1, "Invalid set number\n"},
           Case{R"({"actions":[{"type":"delay","value":1}]})", 0, "Actrions set is not array\n"},
           Case{R"({"actions":[[],null]})", 1, "Actrions set is not array\n"},
       }) {
    Parsed parsed = actionsOf(c.manifest, c.set);
    EXPECT_TRUE(parsed.actions.empty()) << c.manifest;
    EXPECT_EQ(parsed.output, c.line) << c.manifest << " set " << c.set;
  }
}

TEST(ActionSets, KindsAreMatchedExactlyAndBuiltInOrder) {
  Parsed parsed = actionsOf(R"({"actions":[[{"type":"delay","value":9}],[
      {"type":"wait_app_finish","program":"App"}, 5, {}, {"type":5}, {"type":"Delay","value":1}, "delay", [],
      {"Type":"delay","value":1}, {"type":null}, {"type":"delay","value":5}, {"type":"unknown"},
      {"type":"execute","program":"true"}, {"type":"delay\u0000 trailing","value":6}, {"type":"delay "}]]})",
                            1);
  std::string skip = "Skip action due invalid/unknown type\n";
  EXPECT_EQ(parsed.output, skip + skip + skip + skip + skip + skip + skip);
  ASSERT_EQ(parsed.actions.size(), 4u);
  EXPECT_NE(dynamic_cast<WaitAppFinishAction*>(parsed.actions[0].get()), nullptr);
  EXPECT_NE(dynamic_cast<DelayAction*>(parsed.actions[1].get()), nullptr);
  EXPECT_NE(dynamic_cast<ExecuteAction*>(parsed.actions[2].get()), nullptr);
  EXPECT_EQ(outputOf([&] { parsed.actions[3]->perform(); }), "Do delay for 6ms\n");
}

TEST(ActionSets, InvalidActionsStayInTheList) {
  Parsed parsed = actionsOf(R"({"actions":[[{"type":"delay","value":"x"},{"type":"delay","value":1},
                                            {"type":"execute"},{"type":"execute","program":"p","arguments":[1]}]]})");
  EXPECT_EQ(parsed.output,
            "Fail to parse Delay ActionFail to parse Execute ActionField arguments array has invalid "
            "items type\n");
  ASSERT_EQ(parsed.actions.size(), 4u);
  std::vector<bool> valid;
  for (const auto& action : parsed.actions) valid.push_back(action->isValid());
  EXPECT_EQ(valid, (std::vector<bool>{false, true, false, true}));
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
