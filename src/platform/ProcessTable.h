// ProcessTable: the operating system's list of running processes, as the
// wait-for-application action needs it: list the ids, tell whether a process
// carries a given short name, probe whether it still runs, and kill it.
//
// The short name is the kernel's own name for a process (not a path). A
// process that has exited but has not been reaped yet (a zombie) counts as
// ended everywhere. No operation throws: a process that cannot be read is
// treated as not matching, and the outcome of a kill is not reported.
// systemProcessTable() gives the implementation for the running platform.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;

  // The ids of all processes, in the order the system lists them.
  virtual std::vector<int> listIds() const = 0;

  // The kernel's short name of `pid`, or nothing when the process has ended
  // (or is a zombie) or its record cannot be read.
  virtual std::optional<std::string> shortName(int pid) const = 0;

  // Whether `pid` is a live process called `program`: by default its short
  // name equals `program` byte for byte.
  virtual bool hasName(int pid, const std::string& program) const;

  // Whether `pid` still runs. A process this user may not signal still runs;
  // a zombie does not.
  virtual bool isRunning(int pid) const = 0;

  // Sends SIGKILL to `pid`; the outcome is ignored.
  virtual void kill(int pid) const = 0;
};

// The process table of this system (Linux or macOS).
std::shared_ptr<ProcessTable> systemProcessTable();

}  // namespace platform
