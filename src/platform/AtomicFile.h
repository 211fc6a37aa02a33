// AtomicFile: writes a file so that its target path only ever shows the old
// content or the complete new content, never a half-written file.
//
// The bytes go to a new temporary file in the target's own directory (so the
// final rename stays on one file system); commit() closes it and renames it
// over the target in one step. A program that is running from the old file
// keeps its old inode and is not disturbed. Until commit() succeeds the
// destructor removes the temporary file, so an exception anywhere on the way
// leaves the old target untouched and no stray file behind.
//
// Durability: commit() does not fsync. Rename-after-complete already means a
// crash of this process can never leave a half-written target; fsync would
// only add protection against power loss, at the price of a disk flush per
// file, which makes unpacking thousands of small files many times slower
// (Info-ZIP unzip does not fsync either).
//
// Failure: every operation throws std::filesystem::filesystem_error naming
// the path involved (the temporary file or the target).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>

namespace platform {

class AtomicFile {
 public:
  // Creates the temporary file next to `target` with the mode a new file
  // gets (0666 less the process umask).
  explicit AtomicFile(const std::filesystem::path& target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(const char* data, std::size_t size);
  // Replaces the permission bits (07777 at most) of the file being written.
  void setPermissions(mode_t mode);
  // Closes the temporary file and renames it over the target.
  // REQUIRES: not committed yet.
  void commit();

  const std::filesystem::path& temporaryPath() const { return _temporary; }

 private:
  std::filesystem::path _target;
  std::filesystem::path _temporary;
  int _fd = -1;
  bool _committed = false;
};

// Makes `target` a symbolic link to `linkText`, replacing whatever file or
// link is there in one rename; a directory at `target` is not replaced
// (filesystem_error). The link text is stored as given, not checked.
void replaceWithSymlink(const std::filesystem::path& target, const std::string& linkText);

}  // namespace platform
