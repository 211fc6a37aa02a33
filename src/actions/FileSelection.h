// FileSelection: turns the include and exclude patterns of a file action into
// the list of files and directories the action works on.
//
// Patterns are expanded by the glob library. A selected directory that holds
// an excluded path is replaced by its entries, level by level, so that
// everything in it except the excluded path is selected; each entry keeps
// the chain of directory names it was reached through (its suffix). Paths
// are compared in canonical form; each path is canonicalised once per call.
//
// getResultFiles() writes the "Include list: ", "Exclude list: " and "Result list: "
// sections to standard output. It owns nothing between calls. Failures of the
// file system (a path that cannot be canonicalised, a status that cannot be
// read) and of the glob library leave it as exceptions, before any line of
// the log is written.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct SelectedFile {
  std::filesystem::path file;    // canonical path of the entry
  std::filesystem::path suffix;  // directories opened up to reach it, outermost first; empty for a direct match
  // The path as the selection reached it, the last element not resolved: a
  // symbolic link stays the link here while `file` is its target.
  std::filesystem::path reached;
  // True when the entry was reached by opening up a symbolic link to a
  // directory, so that it lies in the link's target.
  bool throughLink = false;
};

class FileSelection {
 public:
  // A null list stands for a list that could not be read: it selects or
  // excludes nothing. The lists must outlive the object.
  FileSelection(const std::vector<std::string>* include, const std::vector<std::string>* exclude, bool recursive);

  std::vector<SelectedFile> getResultFiles() const;

 private:
  std::vector<std::filesystem::path> expand(const std::vector<std::string>& patterns) const;

  const std::vector<std::string>* _include;
  const std::vector<std::string>* _exclude;
  bool _recursive;
};
