// Transaction: makes a run's changes to the file system all or nothing.
//
// Everything lives in ".updater-transaction" in the working directory: the
// journal (see Journal.h), the store of backups and a lock file that the
// live transaction holds with flock, so that no other updater rolls back a
// transaction whose process still runs. Before each change the journal gets
// its record and the old entry goes into the store: moved there by rename
// when it is about to be removed or overwritten in place (constant time on
// one file system, a copy keeping owner and mode otherwise), linked (or
// copied) when it is about to be replaced by a rename and must stay in place
// until then. Only the first change to a path is recorded: that is the state
// to go back to. Every directory that gets a temporary file is recorded
// before the first is made, so that recovery after a crash sweeps it. A
// remove of many paths, announced beforehand, has their records written
// in one batch ahead of the first move: a record whose move never came has
// no backup, which undoing passes over. The backups lie in shards of the
// store (see StoreEntries.h).
//
// commit() deletes the journal first (the point of no return), then the
// store. rollBack() undoes the records in reverse order; a record whose
// backup is gone was undone already or never began, so undoing again, as a
// later recovery does after a crash mid-rollback, is harmless.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/ChangeGuard.h"
#include "platform/FileDescriptor.h"
#include "transaction/Journal.h"
#include "transaction/StoreEntries.h"

namespace transaction {

// A path that could not be restored and why.
using Failures = std::vector<std::pair<std::filesystem::path, std::string>>;

std::filesystem::path transactionDirectory(const std::filesystem::path& workingDirectory);

class Transaction : public platform::ChangeGuard {
 public:
  // Begins a transaction in `workingDirectory`; throws std::runtime_error
  // when one exists there already.
  explicit Transaction(const std::filesystem::path& workingDirectory);

  void commit();
  // Undoes every change; what could not be restored stays in the store and
  // the transaction on disk.
  Failures rollBack();
  bool finished() const { return _finished; }
  const std::filesystem::path& directory() const { return _dir; }

  void beforeTemporary(int directory) override;
  void beforeReplace(int directory, const std::string& name) override;
  void beforeOverwrite(const std::filesystem::path& path) override;
  void removeAll(const std::filesystem::path& path) override;
  void beforeRemoving(const std::vector<std::filesystem::path>& paths) override;
  void beforeRename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  bool owns(const std::filesystem::path& path) const override;

 private:
  // Whether `path` is the transaction's directory, inside it or above it.
  bool touches(const std::filesystem::path& path) const;
  void refuseIfTouching(const std::filesystem::path& path) const;
  // Records the path's first change; false when it had one already.
  bool firstChange(const std::filesystem::path& path);
  std::uint64_t record(Change change, const std::filesystem::path& path, const std::filesystem::path& other = {});
  void keep(int directory, const std::string& name, const std::filesystem::path& path, const struct stat& info,
            std::uint64_t backup);
  // Moves `path` into the store; false when it is not there.
  bool move(const std::filesystem::path& path, std::uint64_t backup);
  // The absolute path of `path` with its directory resolved, the last
  // element kept as it is (a link stays the link). `unchanged`: nothing
  // has changed since the last call, whose directory need not be checked.
  std::filesystem::path locate(const std::filesystem::path& path, bool unchanged = false);
  // The path of the open directory `directory`. Asking the system for it
  // costs more than checking with a stat that the path found last time
  // still leads to the same directory.
  std::filesystem::path pathOf(int directory);

  // The directory `locate` resolved last, while nothing the transaction
  // did can have changed it.
  struct ResolvedParent {
    std::string text;
    std::filesystem::path resolved;
    dev_t device = 0;
    ino_t inode = 0;
  };

  std::filesystem::path _workingDirectory;
  ResolvedParent _parent;
  std::filesystem::path _dir;
  platform::FileDescriptor _lock;
  platform::FileDescriptor _store;
  StoreShards _shards;
  Journal _journal;
  std::vector<Record> _records;
  // Records of announced removals written ahead (indexes into _records),
  // each taken in turn by the removal of its path.
  std::vector<std::size_t> _ahead;
  std::size_t _nextAhead = 0;
  std::set<std::string> _changed;      // ordered, so that a subtree is one range
  std::set<std::string> _temporaries;  // directories recorded as holding temporary files
  std::map<std::pair<dev_t, ino_t>, std::filesystem::path> _directoryPaths;
  // The directories in _temporaries by identity, for the threads that
  // write files; guarded by _recordedMutex alone.
  std::map<std::pair<dev_t, ino_t>, std::filesystem::path> _recordedTemporaries;
  std::mutex _recordedMutex;
  std::recursive_mutex _mutex;  // hooks may come from several threads
  bool _finished = false;
};

// Rolls back a transaction that an updater which no longer runs left in
// `workingDirectory`, writing "Recover interrupted transaction in " and the
// directory first. Returns false when nothing was there. Throws
// std::runtime_error when the transaction's process is still running.
bool recoverInterrupted(const std::filesystem::path& workingDirectory, Failures& failures);

// Writes a line per path that could not be restored, and the line saying
// where the backups were kept. Returns whether the rollback was complete.
bool reportRollback(const Failures& failures, const std::filesystem::path& directory);

}  // namespace transaction
