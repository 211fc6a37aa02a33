// MacProcessTable: the process table read through libproc on macOS.
//
// Ids come from proc_listpids (all processes); a process's short name is the
// NUL-terminated name field of its BSD information record (proc_pidinfo,
// PROC_PIDTBSDINFO), compared whole. A process whose record cannot be read
// in full is skipped; a zombie counts as ended. Nothing here throws.
#pragma once

#ifdef __APPLE__

#include "platform/ProcessTable.h"

namespace platform {

class MacProcessTable final : public ProcessTable {
 public:
  std::vector<int> listIds() const override;
  std::optional<std::string> shortName(int pid) const override;
  bool isRunning(int pid) const override;
  void kill(int pid) const override;
};

}  // namespace platform

#endif  // __APPLE__
