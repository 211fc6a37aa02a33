#include "actions/ActionTestSupport.h"
#include "actions/DelayAction.h"

using namespace action_testing;

TEST(DelayAction, FieldsConstructorOutputAndPerform) {
  struct Case {
    const char* json;
    const char* printed;  // by the constructor
    const char* performed = nullptr;
    const char* description = nullptr;
  };
  const char* const bad = "Fail to parse Delay Action";
  for (const Case& c : {
           Case{R"({"value":15,"description":"Pause a bit"})", "", "Do delay for 15ms\n", "Pause a bit"},
           Case{R"({"value":0,"description":"ab\u0000cd"})", "", "Do delay for 0ms\n", "ab"},
           Case{R"({"value":-2147483648})", "", nullptr, ""},
           Case{R"({"value":"1500"})", bad},
           Case{R"({"value":3000000000})", bad},
           Case{R"({"value":1e3})", bad},
       }) {
    SCOPED_TRACE(c.json);
    rapidjson::Document object = parseJson(c.json);
    std::unique_ptr<DelayAction> action;
    EXPECT_EQ(outputOf([&] { action = std::make_unique<DelayAction>(object); }), c.printed);
    EXPECT_EQ(action->isValid(), c.printed[0] == '\0');
    if (c.description != nullptr) {
      EXPECT_EQ(action->getDescription(), c.description);
    }
    if (c.performed != nullptr) {
      EXPECT_EQ(outputOf([&] { action->perform(); }), c.performed);
    }
  }
}
