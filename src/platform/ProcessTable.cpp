#include "platform/ProcessTable.h"

namespace platform {

bool ProcessTable::hasName(int pid, const std::string& program) const {
  std::optional<std::string> name = shortName(pid);
  return name && *name == program;
}

}  // namespace platform
