#include "zip/ZipFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

#include "platform/ReadRedirects.h"

namespace {

// Opens `path` for reading; -1 with errno set on failure.
int OpenForReading(const std::string& path) {
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

}  // namespace

ArchiveFile ZipFile::OpenArchiveFile(const std::string& zipPath) {
  // A package checked earlier is read from the copy that was checked.
  const std::string readPath = platform::pathToRead(zipPath);
  int descriptor = OpenForReading(readPath);
  if (descriptor < 0 && errno == ENOENT) {
    // O_CREAT without O_TRUNC creates the file but never truncates one that
    // appeared in the meantime. A dangling link is something, and is not
    // followed (O_EXCL fails on it, as on any name that exists).
    const int created = ::open(zipPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (created >= 0) ::close(created);
    descriptor = OpenForReading(zipPath);
  }
  ArchiveFile file(descriptor);
  // A directory opens on some systems but has no bytes to read.
  struct stat info;
  if (descriptor < 0 || ::fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
    throw std::runtime_error("cannot open zip file");
  }
  return file;
}

ZipArchive::Ptr ZipFile::Open(const std::string& zipPath) {
  return ZipArchive::Create(std::make_unique<ArchiveFile>(OpenArchiveFile(zipPath)));
}
