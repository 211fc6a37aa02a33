#include "zip/ArchiveFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

ArchiveFile& ArchiveFile::operator=(ArchiveFile&& other) noexcept {
  if (this != &other) {
    if (_descriptor >= 0) ::close(_descriptor);
    _descriptor = other._descriptor;
    other._descriptor = -1;
  }
  return *this;
}

ArchiveFile::~ArchiveFile() {
  if (_descriptor >= 0) ::close(_descriptor);
}

uint64_t ArchiveFile::size() {
  struct stat info;
  if (_descriptor < 0 || ::fstat(_descriptor, &info) != 0 || info.st_size < 0) return 0;
  return static_cast<uint64_t>(info.st_size);
}

size_t ArchiveFile::readAt(uint64_t offset, char* destination, size_t count) {
  constexpr auto maxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
  size_t done = 0;
  while (done < count && offset + done <= maxOffset) {
    const ssize_t got = ::pread(_descriptor, destination + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}
