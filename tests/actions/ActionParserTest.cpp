#include <gtest/gtest.h>

#include <string>

#include "actions/ActionTestHelpers.h"
#include "actions/DelayAction.h"
#include "actions/ExecuteAction.h"
#include "actions/WaitAppFinishAction.h"
#include "driver/ActionParser.h"

using action_testing::outputOf;
using action_testing::parseJson;

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

template <class Kind>
bool is(const std::shared_ptr<Action>& action) {
  return dynamic_cast<Kind*>(action.get()) != nullptr;
}

}  // namespace

TEST(ActionSets, SetLevelProblemsGiveAnEmptyListAndOneLine) {
  struct Case {
    const char* manifest;
    int set;
    const char* line;
  };
  for (const Case& c : {
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

TEST(ActionSets, SetsAreCountedFromZero) {
  const std::string manifest =
      R"({"other":1,"actions":[[{"type":"delay","value":1}],
                               [{"type":"delay","value":2},{"type":"delay","value":3}]]})";
  EXPECT_EQ(actionsOf(manifest, 0).actions.size(), 1u);
  Parsed last = actionsOf(manifest, 1);
  EXPECT_EQ(last.output, "");
  ASSERT_EQ(last.actions.size(), 2u);
  EXPECT_EQ(outputOf([&] { last.actions[1]->perform(); }), "Do delay for 3ms\n");
}

TEST(ActionSets, AnEmptySetIsSilent) {
  Parsed parsed = actionsOf(R"({"actions":[[]]})");
  EXPECT_TRUE(parsed.actions.empty());
  EXPECT_EQ(parsed.output, "");
}

TEST(ActionSets, ElementsWithoutAStringTypeAreSkippedWithALine) {
  Parsed parsed = actionsOf(R"({"actions":[[5,{},{"type":5},{"type":"Delay","value":1},"delay",[],
                                              {"Type":"delay","value":1},{"type":null}]]})");
  EXPECT_TRUE(parsed.actions.empty());
  std::string skip = "Skip action due invalid/unknown type\n";
  EXPECT_EQ(parsed.output, skip + skip + skip + skip + skip + skip + skip);
}

TEST(ActionSets, EveryKindIsBuiltAsItsClassInOrder) {
  Parsed parsed = actionsOf(R"({"actions":[[
      {"type":"wait_app_finish","program":"App"},
      {"type":"delay","value":5},
      {"type":"unknown"},
      {"type":"execute","program":"true"},
      {"type":"delay\u0000 trailing","value":6},
      {"type":"delay "},
      {"type":"DELAY","value":1}]]})");
  EXPECT_EQ(parsed.output, "");
  ASSERT_EQ(parsed.actions.size(), 4u);
  EXPECT_TRUE(is<WaitAppFinishAction>(parsed.actions[0]));
  EXPECT_TRUE(is<DelayAction>(parsed.actions[1]));
  EXPECT_TRUE(is<ExecuteAction>(parsed.actions[2]));
  EXPECT_TRUE(is<DelayAction>(parsed.actions[3]));
  EXPECT_EQ(outputOf([&] { parsed.actions[3]->perform(); }), "Do delay for 6ms\n");
}

TEST(ActionSets, InvalidActionsStayInTheListAndPrintInOrder) {
  Parsed parsed = actionsOf(R"({"actions":[[
      {"type":"delay","value":"x"},
      7,
      {"type":"delay","value":1},
      {"type":"execute"},
      {"type":"wait_app_finish"},
      {"type":"execute","program":"p","arguments":[1]}]]})");
  EXPECT_EQ(parsed.output,
            "Fail to parse Delay ActionSkip action due invalid/unknown type\n"
            "Fail to parse Execute ActionFail to parse Wait App Finish Action"
            "Field arguments array has invalid items type\n");
  ASSERT_EQ(parsed.actions.size(), 5u);
  std::vector<bool> valid;
  for (const auto& action : parsed.actions) valid.push_back(action->isValid());
  EXPECT_EQ(valid, (std::vector<bool>{false, true, false, false, true}));
}

TEST(ActionSets, ParseActionsTakesOneSet) {
  rapidjson::Document document = parseJson(R"([{"type":"delay","value":1},{"type":"nothing"},{"type":"delay"}])");
  ActionList list;
  std::string output = outputOf([&] { list = ActionParser::parseActions(document.GetArray()); });
  EXPECT_EQ(output, "Fail to parse Delay Action");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(list[0]->isValid());
  EXPECT_FALSE(list[1]->isValid());
}

TEST(ActionSets, TheListOutlivesTheDocument) {
  ActionList list;
  {
    rapidjson::Document document = parseJson(R"({"actions":[[{"type":"execute","program":"run it","wait":true,
                                                 "description":"Run"}]]})");
    outputOf([&] { list = ActionParser::getActionList(document, 0); });
    document.SetNull();
  }
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->getDescription(), "Run");
  EXPECT_EQ(dynamic_cast<ExecuteAction&>(*list[0]).commandLine(), "run it");
}
