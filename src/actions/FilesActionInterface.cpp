#include "actions/FilesActionInterface.h"

#include "actions/ActionFields.h"
#include "alias/AliasResolver.h"

namespace {

// Reads one file list (a string or an array of strings) into `out`,
// resolving aliases, or prints the field's message and leaves `out` empty.
bool readFileList(const rapidjson::Value& object, const char* name, std::vector<std::string>& out) {
  fields::StringList list = fields::readStringList(object, name, fields::LoneString::Accepted);
  // Items are resolved in order up to a bad one, so an unbound alias before
  // it still ends the run.
  const AliasResolver& aliases = AliasResolver::getInstance();
  for (std::string& item : list.items) item = aliases.resolve(item);
  if (list.status != fields::ListStatus::Ok) {
    fields::reportListProblem(name, list.status);
    return false;
  }
  out = std::move(list.items);
  return true;
}

}  // namespace

FilesActionInterface::FilesActionInterface(const rapidjson::Value& object) : Action(object) {
  _includeValid = readFileList(object, "include", _includeList);
  _excludeValid = readFileList(object, "exclude", _excludeList);
  if (auto text = fields::readString(object, "destination")) {
    _destination = AliasResolver::getInstance().resolve(*text);
    _destinationPresent = true;
  }
  _recursive = fields::readBool(object, "recursive").value_or(false);
}

std::vector<SelectedFile> FilesActionInterface::getResultFiles() const {
  return FileSelection(_includeValid ? &_includeList : nullptr, _excludeValid ? &_excludeList : nullptr, _recursive)
      .getResultFiles();
}

FilesActionInterface::FileList FilesActionInterface::getResultFileList() {
  FileList result;
  for (SelectedFile& entry : getResultFiles()) result.emplace_back(std::move(entry.file), std::move(entry.suffix));
  return result;
}
