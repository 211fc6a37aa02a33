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
// The bytes are mapped read-only for the object's lifetime. The descriptors
// are closed on exec, so started programs do not inherit them.
//
// Failure: the constructor throws std::filesystem::filesystem_error.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

class SealedCopy {
 public:
  enum class Backing { Memory, TemporaryFile };

  // Copies every byte of the open file `source` (from its start, whatever
  // the descriptor's offset) and seals the copy. Memory falls back to
  // TemporaryFile where the system has no sealed memory files.
  explicit SealedCopy(int source, Backing backing = Backing::Memory);
  ~SealedCopy();
  SealedCopy(const SealedCopy&) = delete;
  SealedCopy& operator=(const SealedCopy&) = delete;

  // The copied bytes (a valid pointer also when size() is 0).
  const unsigned char* data() const { return _bytes; }
  std::size_t size() const { return _size; }
  // A path that opens the copy for reading, as many times as needed.
  const std::string& path() const { return _path; }

 private:
  void createMemoryFile();
  void createTemporaryFile();
  void seal();
  void map();
  void release() noexcept;

  int _fd = -1;
  std::string _path;
  std::string _directory;  // TemporaryFile backing: removed with the copy
  const unsigned char* _bytes = nullptr;
  void* _mapping = nullptr;
  std::size_t _size = 0;
};

}  // namespace platform
