// Directory reading through the POSIX calls std::filesystem::directory_iterator
// uses, without building a path for every entry, and the per-expansion cache.
#include "glob/detail/directory_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

namespace glob::detail {
namespace {

using directory_stream = std::unique_ptr<DIR, int (*)(DIR*)>;

raw_listing read_entries(const directory_stream& dir) {
  raw_listing raw;
  raw.entries.reserve(32);
  for (;;) {
    errno = 0;
    const dirent* found = ::readdir(dir.get());
    if (found == nullptr) {
      raw.complete = errno == 0;
      return raw;
    }
    const char* name = found->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
      continue;
    }
    raw_entry read;
    read.name = name;
    struct stat status {};
    // Whether entries can be examined at all (the directory may be readable
    // but not searchable) shows in the first one.
    if (raw.entries.empty() && ::fstatat(::dirfd(dir.get()), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      raw.examine_error = errno;
    }
    switch (found->d_type) {
      case DT_LNK:
        read.link = true;
        break;
      case DT_DIR:
        read.directory = true;
        break;
      case DT_UNKNOWN: {
        // The file system does not say: ask, without following a link.
        if (::fstatat(::dirfd(dir.get()), name, &status, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(status.st_mode)) {
          read.link = true;
        } else {
          read.directory = S_ISDIR(status.st_mode);
        }
        break;
      }
      default:
        read.directory = false;
        break;
    }
    raw.entries.push_back(std::move(read));
  }
}

raw_listing not_opened() {
  raw_listing raw;
  raw.opened = false;
  raw.complete = errno == EACCES;
  return raw;
}

}  // namespace

raw_listing read_directory(const std::string& directory) {
  const directory_stream dir(::opendir(directory.c_str()), &::closedir);
  return dir ? read_entries(dir) : not_opened();
}

raw_listing read_directory_at(int fd) {
  // The stream takes its descriptor over; the caller keeps its own.
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    return not_opened();
  }
  directory_stream dir(::fdopendir(copy), &::closedir);
  if (!dir) {
    const int error = errno;
    ::close(copy);
    errno = error;
    return not_opened();
  }
  return read_entries(dir);
}

const std::string& expansion_context::resolved_cwd() {
  if (!_cwd_read) {
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::weakly_canonical(std::filesystem::current_path(ec), ec);
    if (!ec) {
      _cwd = cwd.native();
    }
    _cwd_read = true;
  }
  return _cwd;
}

void expansion_context::remember(const std::string& directory, const std::string& resolved) {
  if (!resolved.empty()) {
    _resolved.emplace(directory, resolved);
  }
}

const std::string& expansion_context::resolved(const std::string& directory) const {
  static const std::string none;
  const auto found = _resolved.find(directory);
  return found == _resolved.end() ? none : found->second;
}

std::shared_ptr<const raw_listing> expansion_context::find(const std::string& directory) const {
  const auto found = _listings.find(directory);
  return found == _listings.end() ? nullptr : found->second;
}

std::shared_ptr<const raw_listing> expansion_context::read(const std::string& directory, int fd) {
  if (auto found = find(directory)) {
    return found;
  }
  raw_listing fresh;
  if (fd >= 0) {
    fresh = read_directory_at(fd);
  }
  // Without a descriptor, or when it could not serve, the path decides.
  if (fd < 0 || !fresh.opened) {
    fresh = read_directory(directory);
  }
  auto raw = std::make_shared<const raw_listing>(std::move(fresh));
  if (raw->complete) {
    _listings.emplace(directory, raw);
  }
  return raw;
}

}  // namespace glob::detail
