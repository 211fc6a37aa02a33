// WaitAppFinishAction: the "wait_app_finish" step, which waits until a
// running application, found by its process name, has ended, polling once a
// second up to a time-out, and can kill it on time-out.
//
// Reads the required string "program" (a process name, compared whole with
// the kernel's short name), then the optional boolean "close_on_timeout"
// and the optional integer "timeout" in milliseconds (default 10000; a
// negative value counts as its unsigned 32-bit counterpart). A missing
// "program" prints "Fail to parse Wait App Finish Action" (no line end) and
// leaves the action invalid. perform() reports by lines only and never
// throws. The process table and the one-second pause are injectable so that
// the timing logic can be checked without real processes or real time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "actions/Action.h"
#include "platform/ProcessTable.h"

class WaitAppFinishAction final : public Action {
 public:
  using Pause = std::function<void()>;

  // Uses the system's process table and really sleeps.
  explicit WaitAppFinishAction(const rapidjson::Value& object);
  // Uses `processes` and calls `pauseOneSecond` in place of each sleep.
  WaitAppFinishAction(const rapidjson::Value& object, std::shared_ptr<const platform::ProcessTable> processes,
                      Pause pauseOneSecond);

  void perform() override;

  // The id of the first listed process called `program`, or -1.
  int getAppPid() const;

 private:
  std::string _program;
  std::uint32_t _timeout = 10000;
  bool _closeOnTimeout = false;

  std::shared_ptr<const platform::ProcessTable> _processes;
  Pause _pauseOneSecond;
};
