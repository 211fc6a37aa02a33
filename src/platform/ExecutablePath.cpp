#include "platform/ExecutablePath.h"

#include <cerrno>
#include <system_error>
#include <vector>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace fs = std::filesystem;

namespace platform {

fs::path executablePath() {
#if defined(__linux__)
  return fs::read_symlink("/proc/self/exe");
#elif defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1);
  if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
    throw fs::filesystem_error("cannot find the running executable", std::make_error_code(std::errc::io_error));
  }
  return fs::canonical(buffer.data());
#else
  throw fs::filesystem_error("cannot find the running executable",
                             std::make_error_code(std::errc::function_not_supported));
#endif
}

}  // namespace platform
