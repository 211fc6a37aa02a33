// FilesActionInterface: the common base of the actions that work on sets of
// files (copy, remove, unzip).
//
// The constructor reads "include", "exclude", "destination" and "recursive"
// from the action's manifest object, passing every path string through the
// alias resolver, and prints "Field <name> does not found" and the like for
// a bad list. It throws only for an unbound alias. getResultFileList() turns
// the lists into (canonical file, suffix) pairs against the file system and
// writes the "Include list: ", "Exclude list: " and "Result list: " log
// sections; file-system failures leave it as std::filesystem exceptions.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "actions/Action.h"
#include "actions/FileSelection.h"

class FilesActionInterface : public Action {
 public:
  using FileList = std::vector<std::pair<std::filesystem::path, std::filesystem::path>>;

  // The selection: each selected file or directory (canonical) with the
  // relative directory below the destination in which it belongs.
  FileList getResultFileList();

 protected:
  explicit FilesActionInterface(const rapidjson::Value& object);
  ~FilesActionInterface() = default;
  FilesActionInterface(const FilesActionInterface&) = default;
  FilesActionInterface& operator=(const FilesActionInterface&) = default;

  // The same selection as getResultFileList(), with the log, keeping for
  // each entry the path through which it was reached.
  std::vector<SelectedFile> getResultFiles() const;

  bool _includeValid = false;
  std::vector<std::string> _includeList;
  bool _excludeValid = false;
  std::vector<std::string> _excludeList;
  bool _destinationPresent = false;
  std::string _destination;
  bool _recursive = false;
};
