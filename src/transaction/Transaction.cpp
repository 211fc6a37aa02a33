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

namespace fs = std::filesystem;

namespace transaction {
namespace {

const char kDirectoryName[] = ".updater-transaction";
const char kJournalName[] = "journal";
const char kStoreName[] = "store";
const char kLockName[] = "lock";

constexpr fs::copy_options kCopyTree = fs::copy_options::copy_symlinks | fs::copy_options::recursive;

std::string quoted(const fs::path& path) {
  std::ostringstream text;
  text << std::quoted(path.string());
  return text.str();
}

// The absolute path of `path` with its directory resolved, the last element
// kept as it is (a link stays the link).
fs::path located(const fs::path& path) {
  fs::path absolute = fs::absolute(path).lexically_normal();
  if (!absolute.has_filename() && absolute != absolute.root_path()) absolute = absolute.parent_path();
  if (absolute == absolute.root_path()) return absolute;
  return fs::weakly_canonical(absolute.parent_path()) / absolute.filename();
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

platform::FileDescriptor lockFile(const fs::path& dir, bool wait) {
  platform::FileDescriptor fd(::open((dir / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
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
  return lockFile(dir, false);
}

platform::FileDescriptor createStore(const fs::path& dir) {
  const fs::path store = dir / kStoreName;
  if (::mkdir(store.c_str(), 0700) != 0) platform::throwSystemError("cannot create transaction store", store, errno);
  platform::FileDescriptor fd(::open(store.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) platform::throwSystemError("cannot open transaction store", store, errno);
  return fd;
}

bool present(const fs::path& path) { return fs::exists(fs::symlink_status(path)); }

// Copies `from` to `to` through a name of its own, so that a backup is
// either whole or absent.
void copyWhole(const fs::path& from, const fs::path& to) {
  fs::path part = to;
  part += ".part";
  fs::remove_all(part);
  fs::copy(from, part, kCopyTree);
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
  fs::remove_all(path);
  fs::copy(stored, path, kCopyTree);
  fs::remove_all(stored);
}

void undo(const Record& record, const fs::path& store) {
  const fs::path stored = store / std::to_string(record.backup);
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
  std::error_code ignored;
  fs::remove_all(dir / kStoreName, ignored);
  fs::remove(dir / kLockName, ignored);
  fs::remove(dir, ignored);
}

}  // namespace

fs::path transactionDirectory(const fs::path& workingDirectory) {
  return fs::absolute(workingDirectory) / kDirectoryName;
}

Transaction::Transaction(const fs::path& workingDirectory)
    : _dir(transactionDirectory(workingDirectory)),
      _lock(createLocked(_dir)),
      _store(createStore(_dir)),
      _journal(_dir / kJournalName) {
  // The directory's own entry must survive a power loss for recovery to
  // find it; the records themselves are not synced (see the docs).
  syncDirectory(_dir);
  syncDirectory(_dir.parent_path());
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
  const std::uint64_t backup = _records.size();
  Record entry{change, backup, path, other};
  _journal.append(entry);
  _records.push_back(std::move(entry));
  return backup;
}

void Transaction::keep(int directory, const std::string& name, const fs::path& path, std::uint64_t backup) {
  const std::string stored = std::to_string(backup);
  struct stat info;
  if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    platform::throwSystemError("cannot back up", path, errno);
  }
  // A second link keeps the old file while the rename replaces it; where
  // linking is impossible (another file system) a copy does.
  if (S_ISREG(info.st_mode) && ::linkat(directory, name.c_str(), _store.get(), stored.c_str(), 0) == 0) return;
  copyWhole(path, _dir / kStoreName / stored);
}

void Transaction::move(const fs::path& path, std::uint64_t backup) {
  const fs::path stored = _dir / kStoreName / std::to_string(backup);
  std::error_code error;
  fs::rename(path, stored, error);
  if (!error) return;
  if (error != std::errc::cross_device_link) throw fs::filesystem_error("cannot back up", path, stored, error);
  copyWhole(path, stored);
  fs::remove_all(path);
}

void Transaction::beforeReplace(int directory, const std::string& name) {
  const fs::path path = platform::pathOfDirectory(directory) / name;
  refuseIfTouching(path);
  struct stat info;
  if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) return;
  if (!firstChange(path)) return;
  if (!present(path)) {
    record(Change::Created, path);
  } else {
    keep(directory, name, path, record(Change::Kept, path));
  }
}

void Transaction::beforeOverwrite(const fs::path& path) {
  const fs::path where = located(path);
  refuseIfTouching(where);
  if (!firstChange(where)) return;
  if (!present(where)) {
    record(Change::Created, where);
  } else {
    move(where, record(Change::Moved, where));
  }
}

void Transaction::removeAll(const fs::path& path) {
  const fs::path where = located(path);
  if (!present(where)) return;
  if (owns(where)) refuseIfTouching(where);
  if (below(_dir, where)) {
    // The transaction's own directory stays, and so do the directories
    // that hold it; everything else in them goes.
    for (const fs::directory_entry& entry : fs::directory_iterator(where)) {
      if (entry.path() != _dir) removeAll(entry.path());
    }
    return;
  }
  // Even a path changed before is moved, not deleted: what lies there now
  // may be the only copy of something a rename brought in.
  firstChange(where);
  move(where, record(Change::Moved, where));
}

void Transaction::beforeRename(const fs::path& from, const fs::path& to) {
  const fs::path source = located(from), target = located(to);
  refuseIfTouching(source);
  refuseIfTouching(target);
  if (firstChange(target)) {
    if (!present(target)) {
      record(Change::Created, target);
    } else {
      platform::FileDescriptor parent(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!parent) platform::throwSystemError("cannot back up", target, errno);
      keep(parent.get(), target.filename().string(), target, record(Change::Kept, target));
    }
  }
  record(Change::Renamed, source, target);
  // What arrives at the target is the source's content, which undoing the
  // rename needs: later changes there must back it up again.
  _changed.erase(_changed.lower_bound(target.native()), _changed.lower_bound(target.native() + '0'));
}

void Transaction::commit() {
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
  std::cout << "Recover interrupted transaction in " << quoted(dir) << std::endl;
  const std::vector<Record> records = Journal::read(dir / kJournalName);
  // Temporary files of the dead process's unpacking go too.
  std::unordered_set<std::string> swept;
  for (const Record& record : records) {
    const fs::path parentPath = record.path.parent_path();
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
