#include "platform/SystemError.h"

#include <system_error>

namespace fs = std::filesystem;

namespace platform {

void throwSystemError(const char* what, int error) {
  throw fs::filesystem_error(what, std::error_code(error, std::generic_category()));
}

void throwSystemError(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

void throwSystemError(const char* what, const fs::path& path, const fs::path& other, int error) {
  throw fs::filesystem_error(what, path, other, std::error_code(error, std::generic_category()));
}

}  // namespace platform
