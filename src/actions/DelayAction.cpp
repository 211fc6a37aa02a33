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
  _delay = *value;
  _valid = true;
}

void DelayAction::perform() {
  std::cout << "Do delay for " << _delay << "ms" << std::endl;
  if (_delay > 0) platform::sleepFor(std::chrono::milliseconds(_delay));
}
