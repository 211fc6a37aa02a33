#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {
namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// A failure while the temporary file is written names the target first, so
// that the message says which file could not be replaced.
[[noreturn]] void fail(const char* what, const fs::path& target, const fs::path& temporary, int error) {
  throw fs::filesystem_error(what, target, temporary, std::error_code(error, std::generic_category()));
}

// A name in `directory` that no other writer in this process picks; another
// process may still hold it, which the exclusive creation below detects.
fs::path temporaryName(const fs::path& directory) {
  static std::atomic<unsigned long> counter{0};
  return directory / (".updater-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
}

// Tries `create` on fresh temporary names until one is free.
fs::path createFresh(const fs::path& target, const std::function<int(const fs::path&)>& create, const char* what) {
  const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
  for (int attempt = 0;; ++attempt) {
    fs::path candidate = temporaryName(directory);
    if (create(candidate) == 0) return candidate;
    if (errno != EEXIST || attempt == 100) fail(what, candidate, errno);
  }
}

}  // namespace

AtomicFile::AtomicFile(const fs::path& target) : _target(target) {
  _temporary = createFresh(
      target,
      [this](const fs::path& candidate) {
        _fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return _fd < 0 ? -1 : 0;
      },
      "cannot create temporary file");
}

AtomicFile::~AtomicFile() {
  if (_fd >= 0) ::close(_fd);
  if (!_committed) ::unlink(_temporary.c_str());
}

void AtomicFile::write(const char* data, std::size_t size) {
  assert(!_committed);
  while (size > 0) {
    ssize_t written = ::write(_fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      fail("cannot write file", _target, _temporary, errno);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

void AtomicFile::setPermissions(mode_t mode) {
  if (::fchmod(_fd, mode & 07777) != 0) fail("cannot set permissions", _target, _temporary, errno);
}

void AtomicFile::commit() {
  assert(!_committed);
  int fd = _fd;
  _fd = -1;
  // close() is where some file systems report a failed delayed write.
  if (::close(fd) != 0) fail("cannot write file", _target, _temporary, errno);
  if (::rename(_temporary.c_str(), _target.c_str()) != 0) fail("cannot replace file", _target, errno);
  _committed = true;
}

void replaceWithSymlink(const fs::path& target, const std::string& linkText) {
  fs::path temporary = createFresh(
      target, [&linkText](const fs::path& candidate) { return ::symlink(linkText.c_str(), candidate.c_str()); },
      "cannot create symbolic link");
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    fail("cannot replace file", target, error);
  }
}

}  // namespace platform
