#include "platform/Interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

namespace platform {
namespace {

const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Read by worker threads too; a lock-free atomic is safe in the handler.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");
// The handler writes a byte here so that a pause waiting on the other end
// wakes at once (the self-pipe trick).
int g_wakeRead = -1;
int g_wakeWrite = -1;

extern "C" void recordSignal(int signal) {
  const int saved = errno;
  int none = 0;
  g_signal.compare_exchange_strong(none, signal);
  if (g_wakeWrite >= 0) {
    const char byte = 1;
    ssize_t ignored = ::write(g_wakeWrite, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

std::string describe(int signal) {
  switch (signal) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

}  // namespace

Interrupted::Interrupted(int signal) : std::runtime_error("Interrupted by " + describe(signal)), _signal(signal) {}

void installInterruptHandlers() {
  if (g_wakeWrite >= 0) return;
  int ends[2];
  if (::pipe(ends) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  for (int end : ends) {
    ::fcntl(end, F_SETFD, FD_CLOEXEC);
    ::fcntl(end, F_SETFL, O_NONBLOCK);
  }
  g_wakeRead = ends[0];
  g_wakeWrite = ends[1];
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = recordSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) {
    // A signal the caller chose to ignore (nohup) stays ignored.
    struct sigaction previous;
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    if (::sigaction(signal, &action, nullptr) != 0) {
      throw std::system_error(errno, std::generic_category(), "sigaction");
    }
  }
}

void throwIfInterrupted() {
  if (const int signal = g_signal.load()) throw Interrupted(signal);
}

std::thread startWorkerThread(std::function<void()> body) {
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal : kSignals) sigaddset(&blocked, signal);
  sigset_t previous;
  // The new thread inherits the mask in force when it is created.
  ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  struct Restore {
    const sigset_t& mask;
    ~Restore() { ::pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
  } restore{previous};
  return std::thread(std::move(body));
}

void sleepFor(std::chrono::nanoseconds duration) {
  throwIfInterrupted();
  if (g_wakeRead < 0) {
    std::this_thread::sleep_for(duration);
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + duration;
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) break;
    // Whole milliseconds, rounded up, so that a pause never ends early.
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    struct pollfd wake = {g_wakeRead, POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(std::min<long long>(milliseconds, 1 << 30)));
    throwIfInterrupted();
  }
  throwIfInterrupted();
}

}  // namespace platform
