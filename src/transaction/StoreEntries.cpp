#include "transaction/StoreEntries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "platform/FileDescriptor.h"
#include "platform/SystemError.h"

namespace fs = std::filesystem;

namespace transaction {
namespace {

const std::uint64_t kBackupsPerShard = 64;

}  // namespace

std::string storedName(std::uint64_t backup) {
  return std::to_string(backup / kBackupsPerShard) + '/' + std::to_string(backup);
}

int StoreShards::directoryFor(std::uint64_t backup) {
  const std::uint64_t number = backup / kBackupsPerShard;
  if (number == _number && _directory) return _directory.get();
  const std::string name = std::to_string(number);
  if (::mkdirat(_store, name.c_str(), 0700) != 0 && errno != EEXIST) {
    platform::throwSystemError("cannot create transaction store", name, errno);
  }
  platform::FileDescriptor directory(::openat(_store, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory) platform::throwSystemError("cannot open transaction store", name, errno);
  _directory = std::move(directory);
  _number = number;
  return _directory.get();
}

namespace {

void setOwner(const fs::path& to, const struct stat& source) {
  struct stat now;
  if (::lstat(to.c_str(), &now) == 0 && now.st_uid == source.st_uid && now.st_gid == source.st_gid) return;
  if (::lchown(to.c_str(), source.st_uid, source.st_gid) == 0) return;
  int error = errno;
  if (error == EPERM && ::geteuid() != 0) {
    if (::lchown(to.c_str(), static_cast<uid_t>(-1), source.st_gid) == 0 || errno == EPERM) return;
    error = errno;
  }
  platform::throwSystemError("cannot set owner", to, error);
}

// After the owner: changing it clears the set-user-ID and set-group-ID bits.
void setMode(const fs::path& to, const struct stat& source) {
  if (::chmod(to.c_str(), source.st_mode & 07777) != 0) platform::throwSystemError("cannot set permissions", to, errno);
}

}  // namespace

void copyEntry(const fs::path& from, const fs::path& to) {
  struct stat info;
  if (::lstat(from.c_str(), &info) != 0) platform::throwSystemError("cannot copy", from, errno);
  if (S_ISDIR(info.st_mode)) {
    // Owner-only until filled, so that a read-only directory can be.
    if (::mkdir(to.c_str(), 0700) != 0) platform::throwSystemError("cannot create directory", to, errno);
    for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
      copyEntry(entry.path(), to / entry.path().filename());
    }
  } else if (S_ISLNK(info.st_mode)) {
    fs::create_symlink(fs::read_symlink(from), to);
    setOwner(to, info);
    return;  // a link has no permission bits of its own
  } else if (S_ISREG(info.st_mode)) {
    fs::copy_file(from, to);
  } else if (::mknod(to.c_str(), info.st_mode, info.st_rdev) != 0) {
    platform::throwSystemError("cannot copy", from, errno);
  }
  setOwner(to, info);
  setMode(to, info);
}

namespace {

bool isDirectoryError(int error) { return error == EISDIR || error == EPERM; }  // EPERM: unlink of a directory on macOS

void removeDirectory(int directory, const std::string& name) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  platform::FileDescriptor fd(::openat(directory, name.c_str(), flags));
  // A directory moved in from the installation may be read-only or not
  // searchable: it is made its owner's again to be emptied.
  if (!fd && errno == EACCES && ::fchmodat(directory, name.c_str(), S_IRWXU, 0) == 0) {
    fd = platform::FileDescriptor(::openat(directory, name.c_str(), flags));
  }
  if (!fd) platform::throwSystemError("cannot remove", name, errno);
  const int level = fd.get();
  ::fchmod(level, S_IRWXU);
  std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(level), &::closedir);
  if (!entries) platform::throwSystemError("cannot remove", name, errno);
  fd.release();
  // The names first: a directory changed while it is read may skip entries.
  std::vector<std::pair<std::string, bool>> names;
  while (const dirent* entry = ::readdir(entries.get())) {
    const std::string child = entry->d_name;
    if (child == "." || child == "..") continue;
    names.emplace_back(child, entry->d_type == DT_DIR);
  }
  for (const auto& [child, isDirectory] : names) {
    if (isDirectory) {
      removeDirectory(level, child);
    } else if (::unlinkat(level, child.c_str(), 0) != 0 && errno != ENOENT) {
      // A file system without d_type, or a directory after all.
      if (!isDirectoryError(errno)) platform::throwSystemError("cannot remove", child, errno);
      removeDirectory(level, child);
    }
  }
  entries.reset();
  if (::unlinkat(directory, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
    platform::throwSystemError("cannot remove", name, errno);
  }
}

}  // namespace

void removeEntry(int directory, const std::string& name) {
  if (::unlinkat(directory, name.c_str(), 0) == 0 || errno == ENOENT) return;
  if (!isDirectoryError(errno)) platform::throwSystemError("cannot remove", name, errno);
  removeDirectory(directory, name);
}

}  // namespace transaction
