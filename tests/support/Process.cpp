#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <sstream>
#include <stdexcept>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace testing_support {
namespace {

int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1; }

void limit(int resource, long long bytes) {
  rlimit value{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  ::setrlimit(resource, &value);
}

// Appends what `fd` holds now to `into`; clears `open` at its end. Returns
// whether anything came.
bool drain(int fd, std::string& into, bool& open) {
  char buffer[65536];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) into.append(buffer, static_cast<size_t>(n));
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) open = false;
  return n > 0;
}

}  // namespace

Child::Child(const std::string& program, const std::vector<std::string>& args, int out, int err,
             const RunOptions& options) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  _pid = ::fork();
  if (_pid < 0) throw std::runtime_error("fork failed");
  if (_pid == 0) {
    int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, 0);
    ::dup2(out >= 0 ? out : devNull, 1);
    ::dup2(err >= 0 ? err : devNull, 2);
    ::setpgid(0, 0);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
    if (options.fileSizeLimit >= 0) {
      // Writes beyond the limit then fail with EFBIG instead of killing the child.
      ::signal(SIGXFSZ, SIG_IGN);
      limit(RLIMIT_FSIZE, options.fileSizeLimit);
    }
    if (options.memoryLimit >= 0) limit(RLIMIT_AS, options.memoryLimit);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
}

Child::~Child() {
  if (!_status) {
    ::kill(-_pid, SIGKILL);
    ::kill(_pid, SIGKILL);  // also before the child has made its group
    wait();
  }
}

void Child::signal(int number) const { ::kill(_pid, number); }

std::optional<int> Child::poll() {
  int raw = 0;
  if (!_status && ::waitpid(_pid, &raw, WNOHANG) == _pid) _status = statusOf(raw);
  return _status;
}

int Child::wait() {
  int raw = 0;
  while (!_status) {
    if (::waitpid(_pid, &raw, 0) == _pid) {
      _status = statusOf(raw);
    } else if (errno != EINTR) {
      _status = -1;
    }
  }
  return *_status;
}

NamedProcess::NamedProcess(const fs::path& dir, const std::string& prefix, const std::string& seconds) : name(prefix) {
  static std::mt19937 random{std::random_device{}()};
  for (int i = 0; i < 6; ++i) name += static_cast<char>('a' + random() % 26);
  fs::copy_file(findProgram("sleep"), dir / name);
  child.emplace((dir / name).string(), std::vector<std::string>{seconds});
  // Until exec has happened the child still carries the test's name.
  const std::string stat = "/proc/" + std::to_string(pid()) + "/stat";
  if (!waitUntil([&] { return readFile(stat).find("(" + name.substr(0, 15) + ")") != std::string::npos; }, 5)) {
    throw std::runtime_error("child did not take its name " + name);
  }
}

BackgroundUpdater::BackgroundUpdater(const std::vector<std::string>& args, const fs::path& outFile,
                                     const RunOptions& options)
    : _outFile(outFile) {
  int out[2] = {-1, -1};
  if (outFile.empty() ? ::pipe2(out, O_CLOEXEC) != 0
                      : (out[1] = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) < 0)
    throw std::runtime_error("no output for the updater");
  // The child keeps its own copy of the writing end.
  _child.emplace(updaterPath(), args, out[1], -1, options);
  ::close(out[1]);
  _pipe = out[0];
}

BackgroundUpdater::~BackgroundUpdater() {
  if (_pipe >= 0) ::close(_pipe);
}

bool BackgroundUpdater::waitForOutput(const std::string& text) {
  return waitUntil([&] { return output().find(text) != std::string::npos; });
}

bool BackgroundUpdater::outputBlocked() const {
  int queued = 0;
  return ::ioctl(_pipe, FIONREAD, &queued) == 0 && queued > ::fcntl(_pipe, F_GETPIPE_SZ) - 4096;
}

std::string BackgroundUpdater::readPipe() {
  std::string out;
  bool open = true;
  while (open) drain(_pipe, out, open);
  return out;
}

std::string BackgroundUpdater::output() const { return readFile(_outFile); }

RunResult run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  RunResult result;
  {
    Child child(program, args, outPipe[1], errPipe[1], options);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    bool outOpen = true, errOpen = true;
    // Reads until the child has exited. A program the child left running in
    // the background may hold the pipes open; it is not waited for.
    result.timedOut = !waitUntil(
        [&] {
          pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
          ::poll(fds, 2, 20);
          if (outOpen) drain(outPipe[0], result.out, outOpen);
          if (errOpen) drain(errPipe[0], result.err, errOpen);
          return child.poll().has_value();
        },
        options.timeoutSeconds);
    if (result.timedOut) ::kill(-child.pid(), SIGKILL);
    result.status = child.wait();
    // What the child wrote just before exiting is still in the pipes.
    while (outOpen && drain(outPipe[0], result.out, outOpen)) continue;
    while (errOpen && drain(errPipe[0], result.err, errOpen)) continue;
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  return result;
}

std::string updaterPath() { return UPDATER_EXE; }

RunResult runUpdater(const std::vector<std::string>& args, const RunOptions& options) {
  return run(updaterPath(), args, options);
}

int asOrdinaryUser(const std::function<int()>& checks) {
  if (::geteuid() != 0) return checks();
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
    ::_exit(checks());
  }
  int raw = 0;
  return ::waitpid(child, &raw, 0) == child ? statusOf(raw) : -1;
}

fs::path findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (!folder.empty() && ::access((fs::path(folder) / name).c_str(), X_OK) == 0) return fs::path(folder) / name;
  }
  return {};
}

std::string header(const std::string& zipPath, const std::string& set) {
  return "Begin updater: \n\tzip file         : " + zipPath + "\n\taction set number: " + set + "\n\n";
}

}  // namespace testing_support
