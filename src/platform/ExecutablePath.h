// The file of the running executable, found through the process itself (not
// through the command line, which the caller chooses freely).
//
// Failure: std::filesystem::filesystem_error when the system cannot tell.
#pragma once

#include <filesystem>

namespace platform {

// The absolute path of the running executable, symbolic links resolved.
std::filesystem::path executablePath();

}  // namespace platform
