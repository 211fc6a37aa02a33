#include "platform/SealedCopy.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/SystemError.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

void writeAll(int to, const unsigned char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t written = ::write(to, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throwSystemError("cannot write the private copy", errno);
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
}

const unsigned char kNoBytes[1] = {0};

}  // namespace

MappedBytes::MappedBytes(int fd, std::size_t size) : _bytes(kNoBytes), _size(size) {
  if (size == 0) return;
  void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapping == MAP_FAILED) throwSystemError("cannot map the private copy", errno);
  _mapping = mapping;
  _bytes = static_cast<const unsigned char*>(mapping);
}

MappedBytes::~MappedBytes() {
  if (_mapping != nullptr) ::munmap(_mapping, _size);
}

SealedCopy::SealedCopy(int source, const BlockSink& eachBlock, Backing backing) {
  if (backing == Backing::Memory) createMemoryFile();
  if (_fd < 0) createTemporaryFile();
  try {
    copyFrom(source, eachBlock);
    seal();
  } catch (...) {
    release();
    throw;
  }
}

SealedCopy::~SealedCopy() { release(); }

void SealedCopy::release() noexcept {
  if (_fd >= 0) ::close(_fd);
  _fd = -1;
  if (!_directory.empty()) {
    ::unlink(_path.c_str());
    ::rmdir(_directory.c_str());
    _directory.clear();
  }
}

void SealedCopy::createMemoryFile() {
#ifdef __linux__
  _fd = ::memfd_create("updater-sealed-copy", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (_fd < 0 && errno != ENOSYS && errno != EINVAL) throwSystemError("cannot create the private copy", errno);
  if (_fd >= 0) _path = "/proc/self/fd/" + std::to_string(_fd);
#endif
}

void SealedCopy::createTemporaryFile() {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/updater-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkdtemp makes the directory with mode 0700.
  if (::mkdtemp(name.data()) == nullptr) throwSystemError("cannot create a directory for the private copy", errno);
  _directory = name.data();
  _path = _directory + "/copy";
  _fd = ::open(_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (_fd < 0) {
    int error = errno;
    ::rmdir(_directory.c_str());
    _directory.clear();
    throwSystemError("cannot create the private copy", error);
  }
}

// One buffer, read from the source and written to the copy: the sink sees
// the very bytes that are written.
void SealedCopy::copyFrom(int source, const BlockSink& eachBlock) {
  constexpr std::size_t kBlock = 256 * 1024;
  std::vector<unsigned char> buffer(kBlock);
  for (;;) {
    ssize_t got = ::pread(source, buffer.data(), kBlock, static_cast<off_t>(_size));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throwSystemError("cannot read the file to copy", errno);
    if (got == 0) return;
    writeAll(_fd, buffer.data(), static_cast<std::size_t>(got));
    if (eachBlock) eachBlock(buffer.data(), static_cast<std::size_t>(got));
    _size += static_cast<std::size_t>(got);
  }
}

void SealedCopy::seal() {
  if (_directory.empty()) {
#ifdef __linux__
    if (::fcntl(_fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
      throwSystemError("cannot seal the private copy", errno);
    }
#endif
  } else if (::fchmod(_fd, 0400) != 0) {
    throwSystemError("cannot make the private copy read-only", errno);
  }
  // The path must open the copy, or later reads could not use it.
  int probe = ::open(_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (probe < 0) throwSystemError("cannot reopen the private copy", errno);
  ::close(probe);
}

std::unique_ptr<const MappedBytes> SealedCopy::map() const { return std::make_unique<const MappedBytes>(_fd, _size); }

}  // namespace platform
