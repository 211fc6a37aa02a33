// ConfinedDirectory: a directory tree that writes must not leave, as needed
// when unpacking archive entries whose names and links come from outside.
//
// It holds the canonical path of its root. Entry names are resolved lexically
// against the root ("." dropped, ".." taken back one level); a name that is
// absolute or climbs above the root has no place inside. Directories are
// created one level at a time, and an existing level that is a symbolic link
// is followed only when it leads to a directory inside the root, so nothing
// is ever created or written through a link that leads out. Verified
// directories are remembered, since an archive names the same ones again and
// again. It guards against hostile archives, not against another process
// swapping directories for links while the unpacking runs.
//
// Failure: file-system errors (a level that is a file, a dangling link, a
// refused mkdir) throw std::filesystem::filesystem_error; a path that would
// leave the root is reported by the return value, never by an exception.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_set>

namespace platform {

class ConfinedDirectory {
 public:
  // REQUIRES: `root` exists; throws filesystem_error (not a directory) when
  // it is not a directory.
  explicit ConfinedDirectory(const std::filesystem::path& root);

  // The canonical root.
  const std::filesystem::path& root() const { return _root; }

  // `name` as a path relative to the root with "." and ".." resolved; empty
  // for the root itself; nothing when `name` is absolute or climbs above it.
  static std::optional<std::filesystem::path> relativePath(const std::string& name);

  // Creates the directory `relative` (from relativePath) and its missing
  // parents. Returns false when a level is a symbolic link that does not lead
  // to a place inside the root; the levels below it are then not touched.
  bool createDirectories(const std::filesystem::path& relative);

  // Whether a symbolic link at `relative` whose text is `linkText` would
  // point inside the root, both by its text (resolved from the link's own
  // directory) and by the links already on its way. Absolute texts never do:
  // an archive cannot know where it will be unpacked.
  bool linkStaysInside(const std::filesystem::path& relative, const std::string& linkText) const;

  // Forgets the verified directories; call after replacing a link, which
  // may change where the paths below it lead.
  void forgetVerified() { _verified.clear(); }

 private:
  bool inside(const std::filesystem::path& absolute) const;

  std::filesystem::path _root;
  std::unordered_set<std::string> _verified;
};

}  // namespace platform
