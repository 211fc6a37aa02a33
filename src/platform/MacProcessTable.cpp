#ifdef __APPLE__

#include "platform/MacProcessTable.h"

#include <libproc.h>
#include <signal.h>
#include <sys/proc.h>
#include <sys/proc_info.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// The BSD information record of `pid`, when it can be read in full.
std::optional<proc_bsdinfo> bsdInfo(int pid) {
  proc_bsdinfo info;
  std::memset(&info, 0, sizeof info);
  int size = proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, static_cast<int>(sizeof info));
  if (size != static_cast<int>(sizeof info)) return std::nullopt;
  return info;
}

}  // namespace

std::vector<int> MacProcessTable::listIds() const {
  // Without a buffer the call tells how many bytes the list needs now; a
  // process started in between may be missed, which is harmless.
  int needed = proc_listpids(PROC_ALL_PIDS, 0, nullptr, 0);
  if (needed <= 0) return {};
  std::vector<int> slots(static_cast<std::size_t>(needed), 0);
  int filled = proc_listpids(PROC_ALL_PIDS, 0, slots.data(), static_cast<int>(slots.size() * sizeof(int)));
  if (filled <= 0) return {};
  slots.resize(static_cast<std::size_t>(filled) / sizeof(int));
  std::vector<int> ids;
  for (int pid : slots) {
    if (pid > 0) ids.push_back(pid);
  }
  return ids;
}

std::optional<std::string> MacProcessTable::shortName(int pid) const {
  std::optional<proc_bsdinfo> info = bsdInfo(pid);
  if (!info || info->pbi_status == SZOMB) return std::nullopt;
  // pbi_name may fill its whole field without a terminating NUL.
  return std::string(info->pbi_name, strnlen(info->pbi_name, sizeof info->pbi_name));
}

bool MacProcessTable::isRunning(int pid) const {
  if (pid < 1) return false;
  // EPERM: the process exists but belongs to somebody else; it still runs.
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  std::optional<proc_bsdinfo> info = bsdInfo(pid);
  return !info || info->pbi_status != SZOMB;
}

void MacProcessTable::kill(int pid) const {
  if (pid > 0) ::kill(pid, SIGKILL);
}

std::shared_ptr<ProcessTable> systemProcessTable() { return std::make_shared<MacProcessTable>(); }

}  // namespace platform

#endif  // __APPLE__
