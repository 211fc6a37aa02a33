// SealedCopy: a private copy of a file's bytes that nobody can change once it
// is taken, so that bytes checked once are the very bytes read later.
//
// Memory backing (Linux): an anonymous memory file (memfd), filled inside the
// kernel and then sealed against writing, shrinking and growing. No name in
// the file system leads to it and not even this process can change it after
// sealing; it costs memory (swappable) of the file's size. path() is
// /proc/self/fd/N, which opens the sealed file anew.
//
// TemporaryFile backing (every POSIX system): a file in a fresh directory of
// the temporary folder that only this user may enter, made read-only once
// written and removed with the object. It guards against other users and
// against any change of the original file, not against this user's own
// processes.
//
// The bytes pass once through one buffer on their way into the copy, and a
// caller may look at each block there (to hash it, say): what it sees is
// exactly what the copy holds. map() gives the whole copy when a caller needs
// it at once. The descriptors are closed on exec, so started programs do not
// inherit them.
//
// Failure: the constructor throws std::filesystem::filesystem_error.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// A read-only mapping of a whole file, unmapped when destroyed.
class MappedBytes {
 public:
  MappedBytes(int fd, std::size_t size);
  ~MappedBytes();
  MappedBytes(const MappedBytes&) = delete;
  MappedBytes& operator=(const MappedBytes&) = delete;

  // A valid pointer also when size() is 0.
  const unsigned char* data() const { return _bytes; }
  std::size_t size() const { return _size; }

 private:
  void* _mapping = nullptr;
  const unsigned char* _bytes;
  std::size_t _size;
};

class SealedCopy {
 public:
  enum class Backing { Memory, TemporaryFile };
  using BlockSink = std::function<void(const unsigned char* bytes, std::size_t size)>;

  // Copies every byte of the open file `source` (from its start, whatever
  // the descriptor's offset), handing each block to `eachBlock` if given,
  // and seals the copy. Memory falls back to TemporaryFile where the system
  // has no sealed memory files.
  explicit SealedCopy(int source, const BlockSink& eachBlock = nullptr, Backing backing = Backing::Memory);
  ~SealedCopy();
  SealedCopy(const SealedCopy&) = delete;
  SealedCopy& operator=(const SealedCopy&) = delete;

  std::size_t size() const { return _size; }
  // A path that opens the copy for reading, as many times as needed.
  const std::string& path() const { return _path; }
  // The whole copy, mapped read-only.
  std::unique_ptr<const MappedBytes> map() const;

 private:
  void createMemoryFile();
  void createTemporaryFile();
  void copyFrom(int source, const BlockSink& eachBlock);
  void seal();
  void release() noexcept;

  int _fd = -1;
  std::string _path;
  std::string _directory;  // TemporaryFile backing: removed with the copy
  std::size_t _size = 0;
};

}  // namespace platform
