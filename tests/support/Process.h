// Runs a program as a child process and captures what it prints, for the
// end-to-end tests that drive the real `updater` executable.
#pragma once

#include <filesystem>
#include <string>
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
  double timeoutSeconds = 60;    // the child is killed after this
  long long fileSizeLimit = -1;  // >= 0: RLIMIT_FSIZE in bytes, SIGXFSZ ignored
  long long memoryLimit = -1;    // >= 0: RLIMIT_AS in bytes
};

// Runs `program` with `args` (argv[1..]); standard input is /dev/null.
RunResult run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});

// Runs the real updater executable of this build.
RunResult runUpdater(const std::vector<std::string>& args, const RunOptions& options = {});

// The header the updater prints before anything else, for package path
// `zipPath` exactly as typed and set number `set` as printed.
std::string header(const std::string& zipPath, const std::string& set = "0");

}  // namespace testing_support
