#include "platform/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <utility>

#include "platform/ChangeGuard.h"
#include "platform/SystemError.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

const char kTemporaryPrefix[] = ".updater-";

// A name that no other writer in this process picks; another process may
// still hold it, which the exclusive creation below detects.
std::string temporaryName() {
  static std::atomic<unsigned long> counter{0};
  return kTemporaryPrefix + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// Tries `create` on `first` (when given) and then on fresh temporary names
// until one is free.
std::string createFresh(const fs::path& shownAs, const std::function<int(const std::string&)>& create, const char* what,
                        const std::string& first = {}) {
  for (int attempt = 0;; ++attempt) {
    std::string candidate = attempt == 0 && !first.empty() ? first : temporaryName();
    if (create(candidate) == 0) return candidate;
    if (errno != EEXIST || attempt == 100) throwSystemError(what, shownAs.parent_path() / candidate, errno);
  }
}

FileDescriptor openParent(const fs::path& target) {
  const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
  FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) throwSystemError("cannot open directory", directory, errno);
  return fd;
}

// The process id in a temporary file's name, or 0 when `name` is none.
pid_t ownerOf(const char* name) {
  const std::size_t prefix = sizeof(kTemporaryPrefix) - 1;
  if (std::string(name).compare(0, prefix, kTemporaryPrefix) != 0) return 0;
  char* end = nullptr;
  long pid = std::strtol(name + prefix, &end, 10);
  if (end == name + prefix || *end != '-' || pid <= 0) return 0;
  for (const char* digit = end + 1; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return 0;
  }
  return end[1] == '\0' ? 0 : static_cast<pid_t>(pid);
}

}  // namespace

AtomicFile::AtomicFile(FileDescriptor directory, const std::string& name, const fs::path& shownAs)
    : AtomicFile(std::move(directory), name, shownAs, std::string()) {}

AtomicFile::AtomicFile(FileDescriptor directory, const std::string& name, const fs::path& shownAs,
                       const std::string& temporary)
    : _directory(std::move(directory)), _name(name), _shownAs(shownAs) {
  if (ChangeGuard* guard = activeChangeGuard()) guard->beforeTemporary(_directory.get());
  _temporary = createFresh(
      shownAs,
      [this](const std::string& candidate) {
        _file = FileDescriptor(
            ::openat(_directory.get(), candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        return _file ? 0 : -1;
      },
      "cannot create temporary file", temporary);
}

AtomicFile::AtomicFile(const fs::path& target) : AtomicFile(openParent(target), target.filename().string(), target) {}

AtomicFile::~AtomicFile() {
  _file.reset();
  if (!_committed) ::unlinkat(_directory.get(), _temporary.c_str(), 0);
}

void AtomicFile::write(const char* data, std::size_t size) {
  assert(!_committed);
  while (size > 0) {
    ssize_t written = ::write(_file.get(), data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      throwSystemError("cannot write file", _shownAs, temporaryPath(), errno);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

void AtomicFile::setPermissions(mode_t mode) {
  if (::fchmod(_file.get(), mode & 07777) != 0) {
    throwSystemError("cannot set permissions", _shownAs, temporaryPath(), errno);
  }
}

void AtomicFile::finish() {
  assert(_file);
  // close() is where some file systems report a failed delayed write.
  if (::close(_file.release()) != 0) throwSystemError("cannot write file", _shownAs, temporaryPath(), errno);
}

void AtomicFile::commit() {
  assert(!_committed);
  if (_file) finish();
  if (ChangeGuard* guard = activeChangeGuard()) guard->beforeReplace(_directory.get(), _name);
  if (::renameat(_directory.get(), _temporary.c_str(), _directory.get(), _name.c_str()) != 0) {
    throwSystemError("cannot replace file", _shownAs, errno);
  }
  _committed = true;
}

std::string reserveTemporaryName() { return temporaryName(); }

void replaceWithSymlink(int directory, const std::string& name, const std::string& linkText, const fs::path& shownAs) {
  if (ChangeGuard* guard = activeChangeGuard()) guard->beforeTemporary(directory);
  std::string temporary = createFresh(
      shownAs,
      [&](const std::string& candidate) { return ::symlinkat(linkText.c_str(), directory, candidate.c_str()); },
      "cannot create symbolic link");
  if (ChangeGuard* guard = activeChangeGuard()) {
    try {
      guard->beforeReplace(directory, name);
    } catch (...) {
      ::unlinkat(directory, temporary.c_str(), 0);
      throw;
    }
  }
  if (::renameat(directory, temporary.c_str(), directory, name.c_str()) != 0) {
    int error = errno;
    ::unlinkat(directory, temporary.c_str(), 0);
    throwSystemError("cannot replace file", shownAs, error);
  }
}

void replaceWithSymlink(const fs::path& target, const std::string& linkText) {
  replaceWithSymlink(openParent(target).get(), target.filename().string(), linkText, target);
}

void removeStaleTemporaries(int directory) {
  int fd = ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return;
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return;
  }
  while (const dirent* item = ::readdir(listing)) {
    pid_t owner = ownerOf(item->d_name);
    if (owner == 0 || owner == ::getpid()) continue;
    // A process that exists, whether or not it may be signalled, may still
    // be writing its temporary file.
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    ::unlinkat(directory, item->d_name, 0);
  }
  ::closedir(listing);
}

}  // namespace platform
