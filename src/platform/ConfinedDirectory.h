// ConfinedDirectory: a directory tree that writes must not leave, as needed
// when unpacking archive entries whose names and links come from outside.
//
// It holds its root open. Entry names are resolved lexically against the
// root ("." dropped, ".." taken back one level); a name that is absolute or
// climbs above the root has no place inside. Every later step is taken on
// directory descriptors, one level at a time, starting from the root's:
// each level is opened without following links, a missing level is created
// in the descriptor of the level above, and a level that is a symbolic link
// is resolved here, by its text, only as long as it stays inside the root.
// Nothing is remembered between calls, so a directory that another process
// swaps for a link while the unpacking runs is seen as the link it has
// become, and a link that an entry replaces changes only what comes after.
//
// Failure: file-system errors (a level that is a file, a dangling link, a
// refused mkdir, too many links) throw std::filesystem::filesystem_error; a
// path that would leave the root is reported by the return value, never by
// an exception.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/FileDescriptor.h"

namespace platform {

class ConfinedDirectory {
 public:
  // REQUIRES: `root` exists; throws filesystem_error (not a directory) when
  // it is not a directory.
  explicit ConfinedDirectory(const std::filesystem::path& root);

  // The canonical root, as it was when opened.
  const std::filesystem::path& root() const { return _root; }

  // `name` as a path relative to the root with "." and ".." resolved; empty
  // for the root itself; nothing when `name` is absolute or climbs above it.
  static std::optional<std::filesystem::path> relativePath(const std::string& name);

  // Opens the directory `relative` (from relativePath), creating it and its
  // missing parents. Nothing when the way leads outside the root; the levels
  // below the link that leads out are then not touched.
  std::optional<FileDescriptor> openDirectory(const std::filesystem::path& relative);
  bool createDirectories(const std::filesystem::path& relative) { return openDirectory(relative).has_value(); }
  // Opens the directory `relative` only when it exists inside the root,
  // creating nothing and never throwing: nothing otherwise.
  std::optional<FileDescriptor> findDirectory(const std::filesystem::path& relative) const;

  // Makes `relative` a symbolic link with the text `linkText`, replacing a
  // file or link there, when the link leads to a place inside the root, both
  // by its text (resolved from the link's own directory) and through the
  // links already on its way. Absolute texts never do: an archive cannot
  // know where it will be unpacked. Returns false, creating nothing, when
  // the link or its own directory would lie outside.
  bool placeSymlink(const std::filesystem::path& relative, const std::string& linkText);

 private:
  enum class Walk { Directory, Missing, Outside };
  struct Resolved {
    Walk outcome;
    FileDescriptor directory;  // set for Walk::Directory
  };
  Resolved resolve(const std::filesystem::path& relative, bool create) const;

  std::filesystem::path _root;
  FileDescriptor _rootDirectory;
};

}  // namespace platform
