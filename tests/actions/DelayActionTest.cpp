#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "actions/ActionTestHelpers.h"
#include "actions/DelayAction.h"

using action_testing::outputOf;
using action_testing::parseJson;

namespace {

std::shared_ptr<DelayAction> delayFrom(const std::string& json, std::string* printed = nullptr) {
  rapidjson::Document object = parseJson(json);
  std::shared_ptr<DelayAction> action;
  std::string text = outputOf([&] { action = std::make_shared<DelayAction>(object); });
  if (printed != nullptr) *printed = text;
  return action;
}

}  // namespace

TEST(DelayAction, ReadsValueAndDescription) {
  std::string printed;
  auto action = delayFrom(R"({"type":"delay","value":1500,"description":"Pause a bit"})", &printed);
  EXPECT_TRUE(action->isValid());
  EXPECT_EQ(action->getDescription(), "Pause a bit");
  EXPECT_EQ(printed, "");
}

TEST(DelayAction, DescriptionOfAnotherTypeIsIgnored) {
  EXPECT_EQ(delayFrom(R"({"value":1,"description":7})")->getDescription(), "");
  EXPECT_EQ(delayFrom(R"({"value":1})")->getDescription(), "");
  // The description is cut at a NUL character like every string field.
  EXPECT_EQ(delayFrom(R"({"value":1,"description":"ab\u0000cd"})")->getDescription(), "ab");
}

TEST(DelayAction, BadValuesFailWithoutLineEnd) {
  for (const char* json :
       {R"({"value":1500.0})", R"({"value":"1500"})", R"({})", R"({"value":3000000000})", R"({"value":-2147483649})",
        R"({"value":1e3})", R"({"value":null})", R"({"value":true})", R"({"Value":1500})"}) {
    std::string printed;
    auto action = delayFrom(json, &printed);
    EXPECT_FALSE(action->isValid()) << json;
    EXPECT_EQ(printed, "Fail to parse Delay Action") << json;
  }
}

TEST(DelayAction, LimitsOfThe32BitRangeAreIntegers) {
  EXPECT_TRUE(delayFrom(R"({"value":2147483647})")->isValid());
  EXPECT_TRUE(delayFrom(R"({"value":-2147483648})")->isValid());
}

TEST(DelayAction, FirstOfRepeatedMembersCounts) {
  auto action = delayFrom(R"({"value":-7,"value":"x"})");
  ASSERT_TRUE(action->isValid());
  EXPECT_EQ(outputOf([&] { action->perform(); }), "Do delay for -7ms\n");
}

TEST(DelayAction, PerformPrintsTheDelay) {
  auto action = delayFrom(R"({"value":-5})");
  EXPECT_EQ(outputOf([&] { action->perform(); }), "Do delay for -5ms\n");
  action = delayFrom(R"({"value":0})");
  EXPECT_EQ(outputOf([&] { action->perform(); }), "Do delay for 0ms\n");
}

TEST(DelayAction, PerformSleepsAtLeastTheDelay) {
  auto action = delayFrom(R"({"value":150})");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(outputOf([&] { action->perform(); }), "Do delay for 150ms\n");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}
