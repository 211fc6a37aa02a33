#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace testing_support {
namespace {

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

RunResult run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) throw std::runtime_error("pipe failed");

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    ::setpgid(0, 0);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
    if (options.fileSizeLimit >= 0) {
      // Writes beyond the limit then fail with EFBIG instead of killing the child.
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.memoryLimit >= 0) {
      rlimit limit{static_cast<rlim_t>(options.memoryLimit), static_cast<rlim_t>(options.memoryLimit)};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);

  RunResult result;
  ::fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
  ::fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
  bool outOpen = true, errOpen = true;
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(options.timeoutSeconds * 1000));
  int status = 0;
  bool exited = false;
  // Reads until the child has exited. A program the child left running in
  // the background may hold the pipes open; it is not waited for.
  while (!exited) {
    pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
    ::poll(fds, 2, 20);
    if (outOpen) drain(outPipe[0], result.out, outOpen);
    if (errOpen) drain(errPipe[0], result.err, errOpen);
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      exited = true;
    } else if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      exited = true;
    }
  }
  // What the child wrote just before exiting is still in the pipes.
  while (outOpen && drain(outPipe[0], result.out, outOpen)) {
  }
  while (errOpen && drain(errPipe[0], result.err, errOpen)) {
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);

  if (WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.status = 128 + WTERMSIG(status);
  return result;
}

RunResult runUpdater(const std::vector<std::string>& args, const RunOptions& options) {
  return run(UPDATER_EXE, args, options);
}

std::string header(const std::string& zipPath, const std::string& set) {
  return "Begin updater: \n\tzip file         : " + zipPath + "\n\taction set number: " + set + "\n\n";
}

}  // namespace testing_support
