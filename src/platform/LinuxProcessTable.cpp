#ifdef __linux__

#include "platform/LinuxProcessTable.h"

#include <signal.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

namespace platform {
namespace {

// A name of /proc that is a process id: decimal digits only, no sign.
std::optional<int> pidOf(const std::string& name) {
  if (name.empty() || name.size() > 9) return std::nullopt;
  int pid = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

const std::string kDeletedSuffix = " (deleted)";

}  // namespace

LinuxProcessTable::LinuxProcessTable(std::filesystem::path procRoot) : _procRoot(std::move(procRoot)) {}

std::vector<int> LinuxProcessTable::listIds() const {
  std::vector<int> ids;
  std::error_code error;
  std::filesystem::directory_iterator it(_procRoot, error), end;
  for (; !error && it != end; it.increment(error)) {
    if (auto pid = pidOf(it->path().filename().string())) ids.push_back(*pid);
  }
  return ids;
}

std::optional<LinuxProcessTable::Status> LinuxProcessTable::readStatus(int pid) const {
  std::ifstream file(_procRoot / std::to_string(pid) / "stat", std::ios::binary);
  if (!file) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // "PID (NAME) STATE ...": the name may itself hold blanks and parentheses,
  // so it ends at the last ")".
  std::size_t open = text.find('(');
  std::size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open || close + 2 >= text.size()) {
    return std::nullopt;
  }
  Status status;
  status.name = text.substr(open + 1, close - open - 1);
  status.state = text[close + 2];
  return status;
}

std::optional<std::string> LinuxProcessTable::executableName(int pid) const {
  std::error_code error;
  std::filesystem::path target = std::filesystem::read_symlink(_procRoot / std::to_string(pid) / "exe", error);
  if (error) return std::nullopt;
  std::string name = target.filename().string();
  // A running program whose file was replaced or removed is still that
  // program; the kernel marks its link so.
  if (name.size() > kDeletedSuffix.size() &&
      name.compare(name.size() - kDeletedSuffix.size(), kDeletedSuffix.size(), kDeletedSuffix) == 0) {
    name.erase(name.size() - kDeletedSuffix.size());
  }
  return name;
}

std::optional<std::string> LinuxProcessTable::shortName(int pid) const {
  std::optional<Status> status = readStatus(pid);
  if (!status || status->state == 'Z') return std::nullopt;
  return status->name;
}

bool LinuxProcessTable::hasName(int pid, const std::string& program) const {
  std::optional<std::string> name = shortName(pid);
  if (!name) return false;
  if (program.size() <= kNameLimit) return *name == program;
  // The kernel cut the name; the executable's file name decides.
  if (name->size() != kNameLimit || program.compare(0, kNameLimit, *name) != 0) return false;
  std::optional<std::string> executable = executableName(pid);
  return executable && *executable == program;
}

bool LinuxProcessTable::isRunning(int pid) const {
  if (pid < 1) return false;
  // EPERM: the process exists but belongs to somebody else; it still runs.
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  std::optional<Status> status = readStatus(pid);
  return !status || status->state != 'Z';
}

void LinuxProcessTable::kill(int pid) const {
  if (pid > 0) ::kill(pid, SIGKILL);
}

std::shared_ptr<ProcessTable> systemProcessTable() { return std::make_shared<LinuxProcessTable>(); }

}  // namespace platform

#endif  // __linux__
