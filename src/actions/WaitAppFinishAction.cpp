#include "actions/WaitAppFinishAction.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <limits>

#include "actions/ActionFields.h"
#include "platform/Interrupt.h"

namespace {

constexpr std::uint32_t kPollMilliseconds = 1000;

void sleepOneSecond() { platform::sleepFor(std::chrono::nanoseconds(1000000000)); }

}  // namespace

WaitAppFinishAction::WaitAppFinishAction(const rapidjson::Value& object)
    : WaitAppFinishAction(object, platform::systemProcessTable(), sleepOneSecond) {}

WaitAppFinishAction::WaitAppFinishAction(const rapidjson::Value& object,
                                         std::shared_ptr<const platform::ProcessTable> processTable, Pause pause)
    : Action(object), _processes(std::move(processTable)), _pauseOneSecond(std::move(pause)) {
  std::optional<std::string> programField = fields::readString(object, "program");
  if (!programField) {
    fields::reportParseFailure("Wait App Finish");
    return;
  }
  _program = *programField;
  _valid = true;

  if (std::optional<bool> close = fields::readBool(object, "close_on_timeout")) _closeOnTimeout = *close;
  if (std::optional<std::int32_t> limit = fields::readInt(object, "timeout")) {
    _timeout = static_cast<std::uint32_t>(*limit);
  }
}

int WaitAppFinishAction::getAppPid() const {
  // The updater never waits for, or kills, itself, even when the program's
  // name is its own.
  const int self = static_cast<int>(::getpid());
  for (int pid : _processes->listIds()) {
    if (pid > 0 && pid != self && _processes->hasName(pid, _program)) return pid;
  }
  return -1;
}

void WaitAppFinishAction::perform() {
  std::cout << "Wait for application finish " << _program << std::endl;
  const int pid = getAppPid();
  if (pid < 1) return;

  if (_timeout != 0) {
    std::uint32_t elapsed = 0;
    do {
      if (!_processes->isRunning(pid)) {
        std::cout << "Application " << _program << " is finished " << std::endl;
        return;
      }
      _pauseOneSecond();
      // Near the top of the unsigned range one more step would wrap the count
      // back to a small number and the wait would never end; the time-out has
      // been reached then.
      if (elapsed > std::numeric_limits<std::uint32_t>::max() - kPollMilliseconds) break;
      elapsed += kPollMilliseconds;
    } while (elapsed < _timeout);
  }

  std::cout << "Application " << _program << " finish timeout " << std::endl;
  if (_closeOnTimeout) {
    std::cout << "Kill application " << _program;
    _processes->kill(pid);
  }
}
