// DelayAction: the "delay" step, which waits a number of milliseconds.
//
// Reads the required integer "value"; when it is missing or not a 32-bit
// JSON integer the constructor prints "Fail to parse Delay Action" (no line
// end) and the action stays invalid. perform() prints the delay and sleeps
// the calling thread only for a positive value.
#pragma once

#include <cstdint>

#include "actions/Action.h"

class DelayAction final : public Action {
 public:
  explicit DelayAction(const rapidjson::Value& object);

  void perform() override;

 private:
  std::int32_t _delay = 0;
};
