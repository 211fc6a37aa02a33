// ChangeGuard: the few places where the updater changes the file system
// tell an optional observer first, so that a transaction can back up what
// is about to change and undo it later. Without an active guard every
// helper here does exactly what the plain file-system call does.
//
// Hook points: AtomicFile (a temporary file made, then renamed over its
// target) and replaceWithSymlink (an entry replaced by rename),
// ConfinedDirectory (a directory created), removeAll (remove action),
// renamePath (rename action), and the copy action's own walk. Guards throw
// std::filesystem::filesystem_error (or std::runtime_error) when they cannot
// record a change; the change is then not made. Hooks may be called from
// several threads; a guard serialises them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

class ChangeGuard {
 public:
  virtual ~ChangeGuard() = default;
  // A temporary file is about to be made in the open directory `directory`.
  virtual void beforeTemporary(int directory) = 0;
  // `name` in the open directory `directory` is about to be created, or
  // replaced by a rename; the entry now there must stay in place.
  virtual void beforeReplace(int directory, const std::string& name) = 0;
  // The entry `path` (not followed) is about to be created or overwritten;
  // the guard may move the old entry away.
  virtual void beforeOverwrite(const std::filesystem::path& path) = 0;
  // Removes `path` with everything below it, keeping what it needs.
  virtual void removeAll(const std::filesystem::path& path) = 0;
  // removeAll() is about to be called for `paths` in this order (some may
  // be gone by their turn): the guard may prepare for all of them at once.
  virtual void beforeRemoving(const std::vector<std::filesystem::path>& paths) = 0;
  // `from` is about to be renamed to `to`.
  virtual void beforeRename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // Whether the canonical `path` belongs to the guard itself, so that no
  // selection may list it.
  virtual bool owns(const std::filesystem::path& path) const = 0;
};

// The guard of the running transaction, or null.
ChangeGuard* activeChangeGuard();

// Makes `guard` the active one for its own lifetime.
class ActiveChangeGuard {
 public:
  explicit ActiveChangeGuard(ChangeGuard& guard);
  ~ActiveChangeGuard();
  ActiveChangeGuard(const ActiveChangeGuard&) = delete;
  ActiveChangeGuard& operator=(const ActiveChangeGuard&) = delete;

 private:
  ChangeGuard* _previous;
};

// std::filesystem::remove_all, create_directories and rename, told to the
// active guard first.
void removeAll(const std::filesystem::path& path);
void createDirectories(const std::filesystem::path& path);
void renamePath(const std::filesystem::path& from, const std::filesystem::path& to);
// Whether a selection must leave `path` (canonical) out.
bool hiddenFromSelections(const std::filesystem::path& path);

// The path of the open directory `directory`, as the system knows it.
std::filesystem::path pathOfDirectory(int directory);

}  // namespace platform
