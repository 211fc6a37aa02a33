// Child processes for the tests where a process is the point: the real
// `updater` executable (signals, resource limits, programs left running),
// named programs for the process table, and outside tools found on PATH.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct RunResult {
  std::string out;  // everything written to standard output
  std::string err;  // everything written to standard error
  int status = -1;  // exit status (0-255), or 128 + signal when killed
  bool timedOut = false;
};

struct RunOptions {
  std::filesystem::path cwd;     // empty: the test's own directory
  double timeoutSeconds = 60;    // run(): the child is killed after this
  long long fileSizeLimit = -1;  // >= 0: RLIMIT_FSIZE in bytes, SIGXFSZ ignored
  long long memoryLimit = -1;    // >= 0: RLIMIT_AS in bytes
};

// A program started in its own process group, standard input /dev/null and
// standard output and error on the given descriptors (-1: /dev/null). The
// destructor kills and reaps it unless wait() did; throws
// std::runtime_error when it cannot start.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args, int out = -1, int err = -1,
        const RunOptions& options = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return _pid; }
  void signal(int number) const;
  // Reaps the child if it has ended; its status then, as wait() gives it.
  std::optional<int> poll();
  // Waits for the end: exit status 0-255, or 128 + signal.
  int wait();

 private:
  pid_t _pid = -1;
  std::optional<int> _status;
};

// Polls `condition` until it holds (true) or `seconds` pass (false).
template <class Condition>
bool waitUntil(Condition condition, double seconds = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// The real updater in the background, so that a test can act at a chosen
// point of the run: standard output goes to the file `outFile` or, when it
// is empty, to a pipe left unread until readPipe(), so that the updater
// blocks once it has filled the pipe.
class BackgroundUpdater {
 public:
  BackgroundUpdater(const std::vector<std::string>& args, const std::filesystem::path& outFile,
                    const RunOptions& options = {});
  ~BackgroundUpdater();
  BackgroundUpdater(const BackgroundUpdater&) = delete;
  BackgroundUpdater& operator=(const BackgroundUpdater&) = delete;

  // Polls until `condition` holds or the updater has ended; true when it held.
  template <class Condition>
  bool waitUntil(Condition condition) {
    return testing_support::waitUntil([&] { return condition() || _child->poll(); }) && condition();
  }
  bool waitForOutput(const std::string& text);
  void signal(int number) { _child->signal(number); }
  int wait() { return _child->wait(); }
  // Whether the unread pipe is full to its last page, where the updater
  // blocks on its next lines.
  bool outputBlocked() const;
  // Everything written to the pipe, read until the updater closes it.
  std::string readPipe();
  std::string output() const;

 private:
  std::filesystem::path _outFile;
  std::optional<Child> _child;
  int _pipe = -1;
};

// A copy of `sleep` under `dir`, named `prefix` plus six random letters,
// running for `seconds`; the constructor returns once the kernel shows the
// name. Linux only.
struct NamedProcess {
  NamedProcess(const std::filesystem::path& dir, const std::string& prefix, const std::string& seconds = "60");
  std::string name;
  std::optional<Child> child;
  pid_t pid() const { return child->pid(); }
};

// Runs `program` with `args` (argv[1..]) to its end and captures both outputs.
RunResult run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});

// The real updater executable of this build, and a run of it.
std::string updaterPath();
RunResult runUpdater(const std::vector<std::string>& args, const RunOptions& options = {});

// `checks` run as an ordinary user, and what they returned: here, or when the
// tests run as root, in a child that has become "nobody"; 255 when that
// child cannot drop its privileges.
int asOrdinaryUser(const std::function<int()>& checks);

// `name` looked up on PATH; empty when it is not there.
std::filesystem::path findProgram(const std::string& name);

// The header the updater prints before anything else, for package path
// `zipPath` exactly as typed and set number `set` as printed.
std::string header(const std::string& zipPath, const std::string& set = "0");

}  // namespace testing_support
