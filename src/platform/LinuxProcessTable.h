// LinuxProcessTable: the process table read from /proc.
//
// The kernel keeps at most 15 bytes of a process's name (/proc/PID/comm, the
// same text that /proc/PID/stat holds between parentheses). A longer program
// name therefore matches when its first 15 bytes equal the kernel's name and
// the file name of the process's executable (the last element of the
// /proc/PID/exe link) equals the whole name. The state letter Z in
// /proc/PID/stat marks a zombie, which counts as ended. Unreadable entries are
// skipped; nothing here throws.
#pragma once

#ifdef __linux__

#include <filesystem>

#include "platform/ProcessTable.h"

namespace platform {

class LinuxProcessTable final : public ProcessTable {
 public:
  // `procRoot` is where the proc file system is mounted.
  explicit LinuxProcessTable(std::filesystem::path procRoot = "/proc");

  std::vector<int> listIds() const override;
  std::optional<std::string> shortName(int pid) const override;
  bool hasName(int pid, const std::string& program) const override;
  bool isRunning(int pid) const override;
  void kill(int pid) const override;

  // The kernel's limit on the length of a process name.
  static constexpr std::size_t kNameLimit = 15;

 private:
  struct Status {
    std::string name;
    char state = '?';
  };
  std::optional<Status> readStatus(int pid) const;
  std::optional<std::string> executableName(int pid) const;

  std::filesystem::path _procRoot;
};

}  // namespace platform

#endif  // __linux__
