// Directory reading with the listing rules of std::filesystem::directory_iterator,
// without building a path for every entry, and the per-expansion cache.
#include "glob/detail/directory_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/FileDescriptor.h"

namespace glob::detail {
namespace {

// Bytes of directory entries asked for per read: a directory of a few
// thousand entries comes in one call.
constexpr std::size_t directory_block = 64 * 1024;

// Adds the entry `name` of type `type` (a DT_ value) of the directory open
// as `fd` to `raw`, unless it is "." or "..".
void add_entry(int fd, const char* name, unsigned char type, raw_listing& raw) {
  if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
    return;
  }
  raw_entry read;
  read.name = name;
  struct stat status {};
  // Whether entries can be examined at all (the directory may be readable
  // but not searchable) shows in the first one.
  if (raw.entries.empty() && ::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    raw.examine_error = errno;
  }
  switch (type) {
    case DT_LNK:
      read.link = true;
      break;
    case DT_DIR:
      read.directory = true;
      break;
    case DT_UNKNOWN: {
      // The file system does not say: ask, without following a link.
      if (::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(status.st_mode)) {
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

raw_listing not_opened() {
  raw_listing raw;
  raw.opened = false;
  raw.complete = errno == EACCES;
  return raw;
}

#if defined(__linux__)
// Reads the entries of the directory open as `fd` from its current position,
// straight from the kernel into `block`: no directory stream, so no copy of
// the descriptor and no checks of it for every directory of a walk.
raw_listing read_entries(int fd, std::vector<char>& block) {
  if (block.empty()) {
    block.resize(directory_block);
  }
  raw_listing raw;
  raw.entries.reserve(32);
  for (;;) {
    const long got = ::syscall(SYS_getdents64, fd, block.data(), block.size());
    if (got <= 0) {
      raw.complete = got == 0;
      return raw;
    }
    // Each record: inode (8 bytes), offset (8), record length (2), type (1),
    // then the name with its NUL.
    for (long at = 0; at < got;) {
      const char* record = block.data() + at;
      unsigned short length = 0;
      std::memcpy(&length, record + offsetof(struct dirent64, d_reclen), sizeof length);
      if (length == 0) {
        raw.complete = false;  // never from a sound kernel; no endless loop either
        return raw;
      }
      add_entry(fd, record + offsetof(struct dirent64, d_name),
                static_cast<unsigned char>(record[offsetof(struct dirent64, d_type)]), raw);
      at += length;
    }
  }
}
#else
raw_listing read_entries(int fd, std::vector<char>&) {
  // The stream takes a descriptor of its own; the caller keeps `fd`.
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(copy < 0 ? nullptr : ::fdopendir(copy), &::closedir);
  if (!dir) {
    const int error = errno;
    if (copy >= 0) {
      ::close(copy);
    }
    errno = error;
    return not_opened();  // the caller tries the path
  }
  raw_listing raw;
  raw.entries.reserve(32);
  for (;;) {
    errno = 0;
    const dirent* found = ::readdir(dir.get());
    if (found == nullptr) {
      raw.complete = errno == 0;
      return raw;
    }
    add_entry(::dirfd(dir.get()), found->d_name, found->d_type, raw);
  }
}
#endif

}  // namespace

raw_listing read_directory(const std::string& directory, std::vector<char>& block) {
  const platform::FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd ? read_entries(fd.get(), block) : not_opened();
}

raw_listing read_directory_at(int fd, std::vector<char>& block) { return read_entries(fd, block); }

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
    fresh = read_directory_at(fd, _block);
  }
  // Without a descriptor, or when it could not serve, the path decides.
  if (fd < 0 || !fresh.opened) {
    fresh = read_directory(directory, _block);
  }
  auto raw = std::make_shared<const raw_listing>(std::move(fresh));
  if (raw->complete) {
    _listings.emplace(directory, raw);
  }
  return raw;
}

}  // namespace glob::detail
