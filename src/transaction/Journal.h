// Journal: the append-only record of a transaction's changes, written
// before each change is made, and read back after a crash.
//
// One record per line: a kind letter, the number of the record's backup in
// the store, then each path as its byte length and its bytes ("K 7 12
// /app/lib.so\n"), so any byte may occur in a path. Each record, or each
// batch of records written ahead of their changes, goes out in one write()
// to a file opened for appending, so a process killed at any instant leaves
// whole records followed at most by one torn record, which reading drops:
// its change had not begun. A write that fails half-way is cut off again,
// so that later records never follow a torn one. Records are not fsynced
// (see docs/manifest.md for what a power loss can lose).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/FileDescriptor.h"

namespace transaction {

enum class Change : char {
  Created = 'C',  // the path did not exist: undone by removing it
  Kept = 'K',     // the old entry's copy or second link is in the store
  Moved = 'M',    // the old entry itself was moved into the store
  Renamed = 'R',  // `path` was renamed to `other`
  // The directory `path` may hold the process's temporary files: undone
  // after a crash by removing them
  Temporaries = 'T',
};

struct Record {
  Change change;
  std::uint64_t backup;
  std::filesystem::path path;
  std::filesystem::path other;
};

class Journal {
 public:
  // Creates the journal file `file`; it must not exist yet.
  explicit Journal(const std::filesystem::path& file);

  void append(const Record& record);
  // The records from `first` on, in one write.
  void append(const std::vector<Record>& records, std::size_t first);

  // The whole records of the journal `file`; none when it does not exist.
  static std::vector<Record> read(const std::filesystem::path& file);

 private:
  void write(const std::string& text);

  std::filesystem::path _file;
  platform::FileDescriptor _fd;
  off_t _length = 0;  // of the whole records written
  bool _torn = false;
};

}  // namespace transaction
