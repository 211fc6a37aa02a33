// AtomicFile: writes a file so that its target path only ever shows the old
// content or the complete new content, never a half-written file.
//
// The bytes go to a new temporary file ".updater-PID-N" in the target's own
// directory (so the final rename stays on one file system); commit() closes
// it and renames it over the target in one step. Everything happens relative
// to a descriptor of that directory, held from start to end, so a directory
// on the way that is swapped for a link meanwhile cannot redirect the file.
// A program that is running from the old file keeps its old inode and is not
// disturbed. Until commit() succeeds the destructor removes the temporary
// file, so an exception anywhere on the way leaves the old target untouched
// and no stray file behind. A process killed outright (SIGKILL) cannot clean
// up: removeStaleTemporaries() removes what such processes left.
//
// Durability: commit() does not fsync. Rename-after-complete already means a
// crash of this process can never leave a half-written target; fsync would
// only add protection against power loss, at the price of a disk flush per
// file, which makes unpacking thousands of small files many times slower
// (Info-ZIP unzip does not fsync either).
//
// Failure: every operation throws std::filesystem::filesystem_error naming
// the target (and the temporary file where it is involved).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "platform/FileDescriptor.h"

namespace platform {

class AtomicFile {
 public:
  // Creates the temporary file in the open directory `directory` (kept
  // until the end) for the target `name` (one path element), with the mode
  // a new file gets (0666 less the process umask). `shownAs` is the
  // target's path for messages.
  AtomicFile(FileDescriptor directory, const std::string& name, const std::filesystem::path& shownAs);
  // The same, trying first the temporary name `temporary` from
  // reserveTemporaryName().
  AtomicFile(FileDescriptor directory, const std::string& name, const std::filesystem::path& shownAs,
             const std::string& temporary);
  // The same for a target given by path; its directory is opened here.
  explicit AtomicFile(const std::filesystem::path& target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(const char* data, std::size_t size);
  // Replaces the permission bits (07777 at most) of the file being written.
  void setPermissions(mode_t mode);
  // Closes the complete temporary file, which keeps only its directory open
  // until the commit; a thread other than the committing one may do this.
  // REQUIRES: not finished yet.
  void finish();
  // Closes the temporary file unless finish() did, and renames it over the
  // target. REQUIRES: not committed yet.
  void commit();

  std::filesystem::path temporaryPath() const { return _shownAs.parent_path() / _temporary; }

 private:
  FileDescriptor _directory;
  std::string _name;
  std::filesystem::path _shownAs;
  std::string _temporary;
  FileDescriptor _file;
  bool _committed = false;
};

// The name the next temporary file would get, taken now, so that files
// written on several threads are named in an order fixed beforehand.
std::string reserveTemporaryName();

// Makes `name` in the open directory `directory` a symbolic link to
// `linkText`, replacing whatever file or link is there in one rename; a
// directory there is not replaced (filesystem_error). The link text is
// stored as given, not checked. `shownAs` is the path for messages.
void replaceWithSymlink(int directory, const std::string& name, const std::string& linkText,
                        const std::filesystem::path& shownAs);
void replaceWithSymlink(const std::filesystem::path& target, const std::string& linkText);

// Removes from the open directory `directory` the temporary files that
// updater processes which no longer run have left behind. Errors are
// ignored: a leftover that cannot be removed harms nothing.
void removeStaleTemporaries(int directory);

}  // namespace platform
