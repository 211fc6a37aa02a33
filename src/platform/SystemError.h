// Turning a failed system call into the exception the updater's layers use
// for file-system failures: std::filesystem::filesystem_error with the
// operation, the path(s) involved and the errno value.
#pragma once

#include <filesystem>

namespace platform {

[[noreturn]] void throwSystemError(const char* what, int error);
[[noreturn]] void throwSystemError(const char* what, const std::filesystem::path& path, int error);
[[noreturn]] void throwSystemError(const char* what, const std::filesystem::path& path,
                                   const std::filesystem::path& other, int error);

}  // namespace platform
