// Building the action list: the set-level messages, and for every kind of
// action which fields make it valid and what its constructor prints.
#include <string>

#include "actions/ActionTestSupport.h"
#include "alias/AliasResolver.h"
#include "driver/ActionParser.h"

using namespace action_testing;

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
    rapidjson::Document document = parseJson(c.manifest);
    ActionList actions;
    EXPECT_EQ(outputOf([&] { actions = ActionParser::getActionList(document, c.set); }), c.line) << c.manifest;
    EXPECT_TRUE(actions.empty()) << c.manifest;
  }
}

// Each element alone: "ROOT" in the JSON stands for a temporary directory
// holding the file "f". Constructors that fail print without a line end.
TEST(ActionKinds, ValidityAndWhatTheConstructorPrints) {
  const char* const unbound = "throws Alias does not found";
  struct Case {
    std::string json;
    std::string printed;  // or "throws " and the exception's message
    int valid;            // 1 valid, 0 invalid, -1 not in the list
    std::string description = "";
  };
  const std::vector<Case> cases = {
      // Elements without a string type are reported, unknown types are not.
      {R"(5)", "Skip action due invalid/unknown type\n", -1},
      {R"({"type":5})", "Skip action due invalid/unknown type\n", -1},
      {R"({"type":"Delay","value":1})", "", -1},
      {R"({"value":1})", "Skip action due invalid/unknown type\n", -1},
      // delay: a 32-bit integer value; a description ends at a NUL.
      {R"({"type":"delay","value":15,"description":"Pause"})", "", 1, "Pause"},
      {R"({"type":"delay","value":-2147483648,"description":"ab\u0000cd"})", "", 1, "ab"},
      {R"({"type":"delay","value":"1500"})", "Fail to parse Delay Action", 0},
      {R"({"type":"delay","value":3000000000})", "Fail to parse Delay Action", 0},
      {R"({"type":"delay","value":1e3})", "Fail to parse Delay Action", 0},
      {R"({"type":"delay"})", "Fail to parse Delay Action", 0},
      // execute: a string program; bad argument items are reported, the action stays valid.
      {R"({"type":"execute","program":"p","arguments":["x",false]})", "Field arguments array has invalid items type\n",
       1},
      {R"({"type":"execute","description":"no program"})", "Fail to parse Execute Action", 0},
      {R"({"type":"execute","program":"p","arguments":["@update.zip/manifest.json"]})", unbound, 0},
      // wait_app_finish: a string program.
      {R"({"type":"wait_app_finish","program":"App","timeout":"x"})", "", 1},
      {R"({"type":"wait_app_finish","timeout":100})", "Fail to parse Wait App Finish Action", 0},
      // rename: string from and to.
      {R"({"type":"rename","from":"a","to":"b","description":"Move"})", "", 1, "Move"},
      {R"({"type":"rename","from":5,"to":"y"})", "", 0},
      {R"({"type":"rename","from":"a"})", "", 0},
      {R"({"type":"rename","to":"y"})", "", 0},
      // copy and remove: include is needed, exclude only reported; copy needs a string destination.
      {R"({"type":"copy","include":"ROOT/f","destination":"ROOT/out"})", "Field exclude does not found\n", 1},
      {R"({"type":"copy","include":"ROOT/f","exclude":[]})", "", 0},
      {R"({"type":"copy","include":"ROOT/f","exclude":[],"destination":5})", "", 0},
      {R"({"type":"copy","exclude":[],"destination":"x"})", "Field include does not found\n", 0},
      {R"({"type":"copy","include":[5],"exclude":[],"destination":"x"})",
       "Field include array has invalid items type\n", 0},
      {R"({"type":"copy","include":true,"exclude":[],"destination":"x"})", "Field include has invalid type\n", 0},
      {R"({"type":"copy","include":"ROOT/f","exclude":["@"],"destination":"x"})", unbound, 0},
      {R"({"type":"remove","include":["ROOT/f"]})", "Field exclude does not found\n", 1},
      {R"({"type":"remove","exclude":"ROOT/f"})", "Field include does not found\n", 0},
      // Both lists are read and reported; an unbound alias ends the run unless a bad item comes first.
      {R"({"type":"remove","include":5,"exclude":["a",false]})",
       "Field include has invalid type\nField exclude array has invalid items type\n", 0},
      {R"({"type":"remove","include":[5,"@unbound"],"exclude":"a"})", "Field include array has invalid items type\n",
       0},
      {R"({"type":"remove","include":["@unbound",5],"exclude":[]})", unbound, 0},
      // unzip: string source and destination; include and exclude only reported.
      {R"({"type":"unzip","source":"@update.zip","destination":"@update.zip"})",
       "Field include does not found\nField exclude does not found\n", 1},
      {R"({"type":"unzip","source":"@update.zip","include":[],"exclude":[]})", "Fail to parse Unzip Action", 0},
      {R"({"type":"unzip","source":1,"destination":"x","include":[],"exclude":[]})", "Fail to parse Unzip Action", 0},
  };
  TempDir dir;
  dir.write("f", "f");
  AliasResolver::getInstance().addAlias("@update.zip", (dir / "update.zip").string());
  for (const Case& c : cases) {
    const std::string text = replaced(c.json, "ROOT", dir.path().string());
    SCOPED_TRACE(text);
    rapidjson::Document document = parseJson("[" + text + "]");
    ActionList actions;
    const auto run = outputAndError([&] { actions = ActionParser::parseActions(document.GetArray()); });
    const std::string printed = run.error.empty() ? run.out : run.out + "throws " + run.error;
    EXPECT_EQ(printed, c.printed);
    if (c.valid < 0 || printed.rfind("throws", 0) == 0) {
      EXPECT_TRUE(actions.empty());
    } else {
      ASSERT_EQ(actions.size(), 1u);
      EXPECT_EQ(actions[0]->isValid(), c.valid == 1);
      if (c.valid == 1) {
        EXPECT_EQ(actions[0]->getDescription(), c.description);
      }
    }
  }
}
