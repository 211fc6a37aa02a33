// Interrupt: SIGTERM, SIGINT and SIGHUP end a run the way a failure does,
// at the next safe point, instead of killing the process wherever it is.
//
// After installInterruptHandlers() the three signals only record that they
// arrived (system calls are restarted, so output and reads go on). Long
// operations call throwIfInterrupted() between steps, and pauses go through
// sleepFor(), which returns as soon as a signal arrives; both then throw
// Interrupted, whose unwinding removes temporary files like any other
// exception and whose message names the signal. Without the handlers
// installed (as in tests that run the updater in-process) nothing is
// recorded and sleepFor() simply sleeps.
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

namespace platform {

class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signal);
  int signal() const { return _signal; }

 private:
  int _signal;
};

// Installs the handlers; later calls do nothing. Throws std::system_error
// when the system refuses.
void installInterruptHandlers();

// Throws Interrupted when one of the signals has arrived.
void throwIfInterrupted();

// Starts `body` on a new thread that blocks the three signals, so that
// they always reach the main thread, whose system calls restart after them.
// Throws std::system_error when the thread cannot be started.
std::thread startWorkerThread(std::function<void()> body);

// Sleeps for `duration`, or less when one of the signals arrives; then
// throws Interrupted if one has.
void sleepFor(std::chrono::nanoseconds duration);

}  // namespace platform
