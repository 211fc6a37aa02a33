#include "transaction/Transaction.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <unordered_set>

#include "platform/AtomicFile.h"
#include "platform/SystemError.h"
#include "transaction/StoreEntries.h"

namespace fs = std::filesystem;

namespace transaction {
namespace {

const char kDirectoryName[] = ".updater-transaction";
const char kJournalName[] = "journal";
const char kStoreName[] = "store";
const char kLockName[] = "lock";

std::string quoted(const fs::path& path) {
  std::ostringstream text;
  text << std::quoted(path.string());
  return text.str();
}

// `path` made absolute against `workingDirectory` and normalised, without
// a trailing separator.
fs::path normalised(const fs::path& workingDirectory, const fs::path& path) {
  fs::path absolute = (path.is_absolute() ? path : workingDirectory / path).lexically_normal();
  if (!absolute.has_filename() && absolute != absolute.root_path()) absolute = absolute.parent_path();
  return absolute;
}

// lstat that tells a missing entry (false) from an error (thrown).
bool lookUp(int directory, const char* name, struct stat& info, const fs::path& shown) {
  if (::fstatat(directory, name, &info, AT_SYMLINK_NOFOLLOW) == 0) return true;
  if (errno == ENOENT || errno == ENOTDIR) return false;
  platform::throwSystemError("cannot back up", shown, errno);
}

bool below(const fs::path& path, const fs::path& directory) {
  const std::string& text = path.native();
  const std::string& prefix = directory.native();
  return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0 &&
         (text[prefix.size()] == '/' || prefix.back() == '/');
}

void syncDirectory(const fs::path& directory) {
  platform::FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

// None when the directory is gone: its transaction has just ended.
platform::FileDescriptor lockFile(const fs::path& dir, bool wait) {
  platform::FileDescriptor fd(::open((dir / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd && errno == ENOENT) return fd;
  if (!fd) platform::throwSystemError("cannot open transaction lock", dir / kLockName, errno);
  if (::flock(fd.get(), LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    if (errno == EWOULDBLOCK) {
      throw std::runtime_error("another updater is running a transaction in " + quoted(dir));
    }
    platform::throwSystemError("cannot lock transaction", dir / kLockName, errno);
  }
  return fd;
}

platform::FileDescriptor createLocked(const fs::path& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0) {
    if (errno == EEXIST) throw std::runtime_error("another updater is running a transaction in " + quoted(dir));
    platform::throwSystemError("cannot create transaction directory", dir, errno);
  }
  platform::FileDescriptor lock = lockFile(dir, false);
  if (!lock) platform::throwSystemError("cannot open transaction lock", dir / kLockName, ENOENT);
  return lock;
}

platform::FileDescriptor createStore(const fs::path& dir) {
  const fs::path store = dir / kStoreName;
  if (::mkdir(store.c_str(), 0700) != 0) platform::throwSystemError("cannot create transaction store", store, errno);
  platform::FileDescriptor fd(::open(store.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) platform::throwSystemError("cannot open transaction store", store, errno);
  return fd;
}

bool present(const fs::path& path) { return fs::exists(fs::symlink_status(path)); }

// Whether `path` (known earlier) still leads to the directory whose status
// is `info`.
bool stillLeadsTo(const fs::path& path, const struct stat& info) {
  struct stat now;
  return !path.empty() && ::stat(path.c_str(), &now) == 0 && now.st_dev == info.st_dev && now.st_ino == info.st_ino;
}

// Copies `from` to `to` through a name of its own, so that a backup is
// either whole or absent.
void copyWhole(const fs::path& from, const fs::path& to) {
  fs::path part = to;
  part += ".part";
  fs::remove_all(part);
  copyEntry(from, part);
  fs::rename(part, to);
}

// Puts the backup `stored` back at `path`, replacing what is there now.
void restore(const fs::path& stored, const fs::path& path) {
  if (!present(stored)) return;  // undone already, or its change never began
  const fs::file_status now = fs::symlink_status(path);
  if (fs::exists(now) && (fs::is_directory(now) || fs::is_directory(fs::symlink_status(stored)))) {
    fs::remove_all(path);
  }
  std::error_code error;
  fs::rename(stored, path, error);
  if (!error) return;
  if (error != std::errc::cross_device_link) throw fs::filesystem_error("cannot restore", stored, path, error);
  // Straight to its place: a name of its own there could be someone's file.
  // Interrupted, the next rollback copies it again, the backup still whole:
  // it leaves its name in one step before it is deleted.
  fs::remove_all(path);
  copyEntry(stored, path);
  fs::path gone = stored;
  gone += ".gone";
  fs::remove_all(gone);
  fs::rename(stored, gone);
  fs::remove_all(gone);
}

void undo(const Record& record, const fs::path& store) {
  const fs::path stored = store / storedName(record.backup);
  switch (record.change) {
    case Change::Created:
      if (present(record.path)) fs::remove_all(record.path);
      break;
    case Change::Kept:
    case Change::Moved:
      restore(stored, record.path);
      break;
    case Change::Renamed:
      if (!present(record.path) && present(record.other)) fs::rename(record.other, record.path);
      break;
    case Change::Temporaries:
      break;  // the process's own are gone with it; a dead one's are swept on recovery
  }
}

Failures undoAll(const std::vector<Record>& records, const fs::path& dir) {
  Failures failures;
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    try {
      undo(*record, dir / kStoreName);
    } catch (const std::exception& error) {
      failures.emplace_back(record->path, error.what());
    }
  }
  return failures;
}

// The journal goes first: without it, what is left is only rubbish. No
// fsync: it would wait until every byte the set wrote is on the disk, and
// file systems with a metadata journal (ext4, XFS, APFS) commit the
// journal's removal no later than the removals that follow it.
void removeTransaction(const fs::path& dir) {
  if (::unlink((dir / kJournalName).c_str()) != 0 && errno != ENOENT) {
    platform::throwSystemError("cannot remove transaction journal", dir / kJournalName, errno);
  }
  platform::FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return;
  try {
    removeEntry(fd.get(), kStoreName);
  } catch (const std::exception&) {
    return;  // rubbish only: undoing it again changes nothing
  }
  ::unlinkat(fd.get(), kLockName, 0);
  fd.reset();
  ::rmdir(dir.c_str());
}

}  // namespace

fs::path transactionDirectory(const fs::path& workingDirectory) {
  return fs::absolute(workingDirectory) / kDirectoryName;
}

Transaction::Transaction(const fs::path& workingDirectory)
    : _workingDirectory(fs::absolute(workingDirectory)),
      _dir(transactionDirectory(workingDirectory)),
      _lock(createLocked(_dir)),
      _store(createStore(_dir)),
      _shards(_store.get()),
      _journal(_dir / kJournalName) {
  // The directory's own entry must survive a power loss for recovery to
  // find it; the records themselves are not synced (see the docs).
  syncDirectory(_dir);
  syncDirectory(_dir.parent_path());
}

fs::path Transaction::locate(const fs::path& path, bool unchanged) {
  const fs::path absolute = normalised(_workingDirectory, path);
  if (absolute == absolute.root_path()) return absolute;
  const fs::path parent = absolute.parent_path();
  if (unchanged && _parent.text == parent.native() && !_parent.resolved.empty()) {
    return _parent.resolved / absolute.filename();
  }
  // A remove of many entries of one directory resolves it once: the same
  // directory is still there when the path leads to the same inode.
  struct stat info;
  const bool found = ::stat(parent.c_str(), &info) == 0;
  if (found && _parent.text == parent.native() && _parent.device == info.st_dev && _parent.inode == info.st_ino) {
    return _parent.resolved / absolute.filename();
  }
  fs::path resolved = fs::weakly_canonical(parent);
  _parent = found ? ResolvedParent{parent.native(), resolved, info.st_dev, info.st_ino} : ResolvedParent{};
  return resolved / absolute.filename();
}

fs::path Transaction::pathOf(int directory) {
  struct stat info;
  if (::fstat(directory, &info) != 0) return platform::pathOfDirectory(directory);
  const std::pair<dev_t, ino_t> identity(info.st_dev, info.st_ino);
  const auto known = _directoryPaths.find(identity);
  if (known != _directoryPaths.end() && stillLeadsTo(known->second, info)) return known->second;
  fs::path path = platform::pathOfDirectory(directory);
  _directoryPaths[identity] = path;
  return path;
}

bool Transaction::owns(const fs::path& path) const { return path == _dir || below(path, _dir); }

bool Transaction::touches(const fs::path& path) const { return owns(path) || below(_dir, path); }

void Transaction::refuseIfTouching(const fs::path& path) const {
  if (touches(path)) {
    throw fs::filesystem_error("the transaction's directory cannot be changed", path,
                               std::make_error_code(std::errc::operation_not_permitted));
  }
}

bool Transaction::firstChange(const fs::path& path) { return _changed.insert(path.native()).second; }

std::uint64_t Transaction::record(Change change, const fs::path& path, const fs::path& other) {
  // Records written ahead must precede every later one in the journal as
  // their changes precede its change: those not taken yet never will be.
  _ahead.clear();
  const std::uint64_t backup = _records.size();
  Record entry{change, backup, path, other};
  _journal.append(entry);
  _records.push_back(std::move(entry));
  return backup;
}

void Transaction::keep(int directory, const std::string& name, const fs::path& path, const struct stat& info,
                       std::uint64_t backup) {
  // A second link (to a file, or to a link itself: linkat follows none)
  // keeps the old entry while the rename replaces it; where linking is
  // impossible (another file system) a copy does.
  const int shard = _shards.directoryFor(backup);
  if ((S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) &&
      ::linkat(directory, name.c_str(), shard, std::to_string(backup).c_str(), 0) == 0) {
    return;
  }
  copyWhole(path, _dir / kStoreName / storedName(backup));
}

bool Transaction::move(const fs::path& path, std::uint64_t backup) {
  const int shard = _shards.directoryFor(backup);
  if (::renameat(AT_FDCWD, path.c_str(), shard, std::to_string(backup).c_str()) == 0) return true;
  if (errno == ENOENT || errno == ENOTDIR) return false;
  if (errno != EXDEV) platform::throwSystemError("cannot back up", path, errno);
  struct stat info;
  if (!lookUp(AT_FDCWD, path.c_str(), info, path)) return false;
  copyWhole(path, _dir / kStoreName / storedName(backup));
  fs::remove_all(path);
  return true;
}

void Transaction::beforeTemporary(int directory) {
  // Called by every thread that writes a file: a directory recorded
  // already, and still at the path recorded, is told without the lock that
  // the other hooks wait for.
  struct stat info;
  const bool identified = ::fstat(directory, &info) == 0;
  if (identified) {
    fs::path known;
    {
      const std::lock_guard<std::mutex> holdRecorded(_recordedMutex);
      const auto found = _recordedTemporaries.find({info.st_dev, info.st_ino});
      if (found != _recordedTemporaries.end()) known = found->second;
    }
    if (stillLeadsTo(known, info)) return;
  }
  const std::lock_guard<std::recursive_mutex> hold(_mutex);
  fs::path path = pathOf(directory);
  if (_temporaries.insert(path.native()).second) record(Change::Temporaries, path);
  if (identified) {
    const std::lock_guard<std::mutex> holdRecorded(_recordedMutex);
    _recordedTemporaries[{info.st_dev, info.st_ino}] = path;
  }
}

void Transaction::beforeReplace(int directory, const std::string& name) {
  const std::lock_guard<std::recursive_mutex> hold(_mutex);
  const fs::path path = pathOf(directory) / name;
  refuseIfTouching(path);
  if (_changed.count(path.native()) != 0) return;
  // Most entries replaced are files: a second link in the store, tried
  // first, keeps one and tells that it exists in one call. Made before its
  // record, it is only rubbish in the store if the record never comes.
  const std::uint64_t next = _records.size();
  if (::linkat(directory, name.c_str(), _shards.directoryFor(next), std::to_string(next).c_str(), 0) == 0) {
    firstChange(path);
    record(Change::Kept, path);
    return;
  }
  if (errno == ENOENT) {
    firstChange(path);
    record(Change::Created, path);
    return;
  }
  struct stat info;
  const bool exists = lookUp(directory, name.c_str(), info, path);
  if (exists && S_ISDIR(info.st_mode)) return;
  if (!firstChange(path)) return;
  if (!exists) {
    record(Change::Created, path);
  } else {
    // Linking failed above (another file system, too many links): a copy.
    copyWhole(path, _dir / kStoreName / storedName(record(Change::Kept, path)));
  }
}

void Transaction::beforeOverwrite(const fs::path& path) {
  const std::lock_guard<std::recursive_mutex> hold(_mutex);
  _parent = {};
  const fs::path where = locate(path);
  refuseIfTouching(where);
  if (!firstChange(where)) return;
  // Gone meanwhile, it is created like a path that was never there.
  if (!present(where) || !move(where, record(Change::Moved, where))) record(Change::Created, where);
}

void Transaction::removeAll(const fs::path& path) {
  const std::lock_guard<std::recursive_mutex> hold(_mutex);
  // Within an announced remove only its own moves have changed the tree:
  // a directory reached without links stays where it was resolved unless
  // a move took it or a directory above it, which drops the resolution.
  const bool unchanged = _nextAhead < _ahead.size() && _parent.text == _parent.resolved.native();
  const fs::path where = locate(path, unchanged);
  if (owns(where) || below(_dir, where)) {
    struct stat info;
    if (!lookUp(AT_FDCWD, where.c_str(), info, where)) return;
    if (owns(where)) refuseIfTouching(where);
    // The transaction's own directory stays, and so do the directories
    // that hold it; everything else in them goes.
    for (const fs::directory_entry& entry : fs::directory_iterator(where)) {
      if (entry.path() != _dir) removeAll(entry.path());
    }
    return;
  }
  // Recorded before the move is tried: a path that is gone already leaves
  // a record whose backup never comes, which undoing passes over.
  std::uint64_t backup;
  if (_nextAhead < _ahead.size() && _records[_ahead[_nextAhead]].path == where) {
    backup = _records[_ahead[_nextAhead++]].backup;
  } else {
    backup = record(Change::Moved, where);
  }
  if (!move(where, backup)) return;
  // Even a path changed before is moved, not deleted: what lies there now
  // may be the only copy of something a rename brought in.
  firstChange(where);
  // Paths through a directory or link that went must be resolved afresh.
  if (where.native() == _parent.text || below(fs::path(_parent.text), where) || where == _parent.resolved ||
      below(_parent.resolved, where)) {
    _parent = {};
  }
}

void Transaction::beforeRemoving(const std::vector<fs::path>& paths) {
  const std::lock_guard<std::recursive_mutex> hold(_mutex);
  _ahead.clear();
  _nextAhead = 0;
  const std::size_t first = _records.size();
  bool verified = false;  // nothing changes until the last path is located
  for (const fs::path& path : paths) {
    const fs::path where = locate(path, verified);
    verified = true;
    // The transaction's own directory and those above it go their own way,
    // and so does every path after them.
    if (owns(where) || below(_dir, where)) break;
    _records.push_back(Record{Change::Moved, _records.size(), where, {}});
  }
  if (_records.size() == first) return;
  try {
    _journal.append(_records, first);
  } catch (...) {
    _records.resize(first);
    throw;
  }
  for (std::size_t at = first; at < _records.size(); ++at) _ahead.push_back(at);
}

void Transaction::beforeRename(const fs::path& from, const fs::path& to) {
  const std::lock_guard<std::recursive_mutex> hold(_mutex);
  _parent = {};
  const fs::path source = locate(from), target = locate(to);
  refuseIfTouching(source);
  refuseIfTouching(target);
  if (firstChange(target)) {
    if (!present(target)) {
      record(Change::Created, target);
    } else {
      platform::FileDescriptor parent(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!parent) platform::throwSystemError("cannot back up", target, errno);
      struct stat info;
      if (!lookUp(parent.get(), target.filename().c_str(), info, target)) {
        platform::throwSystemError("cannot back up", target, ENOENT);
      }
      keep(parent.get(), target.filename().string(), target, info, record(Change::Kept, target));
    }
  }
  record(Change::Renamed, source, target);
  // What arrives at the target is the source's content, which undoing the
  // rename needs: later changes there must back it up again.
  _changed.erase(_changed.lower_bound(target.native()), _changed.lower_bound(target.native() + '0'));
}

void Transaction::commit() {
  const std::lock_guard<std::recursive_mutex> hold(_mutex);
  removeTransaction(_dir);
  _finished = true;
  _lock.reset();
}

namespace {

// Once everything is back, a transaction that cannot be deleted is only
// rubbish: undoing it again later changes nothing.
void removeAfterRollback(const fs::path& dir, Failures& failures) {
  if (!failures.empty()) return;
  try {
    removeTransaction(dir);
  } catch (const std::exception& error) {
    failures.emplace_back(dir, error.what());
  }
}

}  // namespace

Failures Transaction::rollBack() {
  const std::lock_guard<std::recursive_mutex> hold(_mutex);
  Failures failures = undoAll(_records, _dir);
  removeAfterRollback(_dir, failures);
  _finished = true;
  _lock.reset();
  return failures;
}

bool recoverInterrupted(const fs::path& workingDirectory, Failures& failures) {
  const fs::path dir = transactionDirectory(workingDirectory);
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(dir, error))) return false;
  platform::FileDescriptor lock = lockFile(dir, false);
  if (!lock) return false;
  std::cout << "Recover interrupted transaction in " << quoted(dir) << std::endl;
  const std::vector<Record> records = Journal::read(dir / kJournalName);
  // Temporary files of the dead process's unpacking go too.
  std::unordered_set<std::string> swept;
  for (const Record& record : records) {
    const fs::path parentPath = record.change == Change::Temporaries ? record.path : record.path.parent_path();
    if (!swept.insert(parentPath.native()).second) continue;
    platform::FileDescriptor parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent) platform::removeStaleTemporaries(parent.get());
  }
  failures = undoAll(records, dir);
  removeAfterRollback(dir, failures);
  return true;
}

bool reportRollback(const Failures& failures, const fs::path& directory) {
  for (const auto& [path, why] : failures) std::cout << "Cannot restore " << quoted(path) << ": " << why << std::endl;
  if (failures.empty()) return true;
  std::cout << "Rollback incomplete, backups kept in " << quoted(directory) << std::endl;
  return false;
}

}  // namespace transaction
