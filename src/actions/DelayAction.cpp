#include "actions/DelayAction.h"

#include <chrono>
#include <iostream>

#include "actions/ActionFields.h"
#include "platform/Interrupt.h"

DelayAction::DelayAction(const rapidjson::Value& object) : Action(object) {
  std::optional<std::int32_t> value = fields::readInt(object, "value");
  if (!value) {
    fields::reportParseFailure("Delay");
    return;
  }
  delay = *value;
  valid = true;
}

void DelayAction::perform() {
  std::cout << "Do delay for " << delay << "ms" << std::endl;
  if (delay > 0) platform::sleepFor(std::chrono::milliseconds(delay));
}
