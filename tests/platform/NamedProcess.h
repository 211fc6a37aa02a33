// NamedProcess: a child running a copy of /bin/sleep named `prefix` plus six
// random letters, for tests that look processes up by name. The destructor
// kills and reaps it unless the test did; throws std::runtime_error when it
// cannot start. Linux only.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
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
  NamedProcess(const std::filesystem::path& dir, const std::string& prefix, const std::string& seconds = "60")
      : _name(prefix) {
    static std::mt19937 random{std::random_device{}()};
    for (int i = 0; i < 6; ++i) _name += static_cast<char>('a' + random() % 26);
    const std::filesystem::path program = dir / _name;
    std::filesystem::copy_file("/bin/sleep", program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::string path = program.string(), duration = seconds;
    char* argv[] = {path.data(), duration.data(), nullptr};
    if (::posix_spawn(&_pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) throw std::runtime_error(path);
    // Until exec has happened the child still carries the test's name.
    if (!waitFor([this] { return stat().find("(" + _name.substr(0, 15) + ")") != std::string::npos; })) {
      throw std::runtime_error("child did not take its name " + _name);
    }
  }
  ~NamedProcess() {
    if (!_reaped) {
      kill();
      reap();
    }
  }
  NamedProcess(const NamedProcess&) = delete;
  NamedProcess& operator=(const NamedProcess&) = delete;

  int pid() const { return _pid; }
  const std::string& name() const { return _name; }
  // Without reaping: the child stays a zombie until reap().
  void kill() const { ::kill(_pid, SIGKILL); }
  // Waits for the child to end; returns its raw wait status.
  int reap() {
    int status = 0;
    while (::waitpid(_pid, &status, 0) < 0 && errno == EINTR) {
    }
    _reaped = true;
    return status;
  }

 private:
  std::string stat() const {
    std::ifstream file("/proc/" + std::to_string(_pid) + "/stat");
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
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
