// NamedProcess: a real process with a chosen short name, for tests that
// look processes up by name. A copy of /bin/sleep is made under the given
// name in a test directory and started as a child of the test; the kernel
// names the process after that file. The destructor kills and reaps the
// child if the test has not done so. Test-side only; Linux.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

extern char** environ;

namespace testing_support {

class NamedProcess {
 public:
  // Starts `dir`/`name` (a copy of /bin/sleep) sleeping `seconds`.
  NamedProcess(const std::filesystem::path& dir, const std::string& name, const std::string& seconds = "60")
      : _name(name) {
    const std::filesystem::path program = dir / name;
    std::filesystem::copy_file("/bin/sleep", program, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::string path = program.string();
    std::string duration = seconds;
    char* argv[] = {path.data(), duration.data(), nullptr};
    if (::posix_spawn(&_pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) {
      throw std::runtime_error("cannot start " + path);
    }
    // Until exec has happened the child still carries the test's name.
    if (!waitFor([this] { return stat().find("(" + _name.substr(0, 15) + ")") != std::string::npos; })) {
      throw std::runtime_error("child did not take its name " + _name);
    }
  }
  ~NamedProcess() {
    if (!_reaped) {
      ::kill(_pid, SIGKILL);
      reap();
    }
  }
  NamedProcess(const NamedProcess&) = delete;
  NamedProcess& operator=(const NamedProcess&) = delete;

  // `prefix` followed by six random letters: a name nothing else runs under.
  static std::string uniqueName(const std::string& prefix) {
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> letter(0, 25);
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) name += static_cast<char>('a' + letter(random));
    return name;
  }

  int pid() const { return _pid; }
  const std::string& name() const { return _name; }

  // Kills the child without reaping it: it stays a zombie until reap().
  void kill() const { ::kill(_pid, SIGKILL); }

  // Waits for the child to end; returns its raw wait status.
  int reap() {
    int status = 0;
    while (::waitpid(_pid, &status, 0) < 0 && errno == EINTR) {
    }
    _reaped = true;
    return status;
  }

  // Whether the kernel shows the child as a zombie (exited, not reaped),
  // waiting up to five seconds for it to become one.
  bool becomesZombie() const {
    return waitFor([this] {
      std::string text = stat();
      std::size_t close = text.rfind(')');
      return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
    });
  }

  // The child's /proc/PID/stat line, empty once it is gone.
  std::string stat() const {
    std::ifstream file("/proc/" + std::to_string(_pid) + "/stat");
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }

 private:
  template <class Condition>
  static bool waitFor(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  std::string _name;
  pid_t _pid = -1;
  bool _reaped = false;
};

}  // namespace testing_support
