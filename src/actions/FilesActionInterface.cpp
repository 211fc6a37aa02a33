#include "actions/FilesActionInterface.h"

#include <iostream>

#include "actions/ActionFields.h"
#include "driver/AliasResolver.h"

FilesActionInterface::FilesActionInterface(const rapidjson::Value& object) : Action(object) {
  includeValid = parseFileList(object, "include", includeList);
  excludeValid = parseFileList(object, "exclude", excludeList);
  if (auto text = fields::readString(object, "destination")) {
    destination = AliasResolver::getInstance().resolve(*text);
    destinationPresent = true;
  }
  recursive = fields::readBool(object, "recursive").value_or(false);
}

bool FilesActionInterface::parseFileList(const rapidjson::Value& object, const char* name,
                                         std::vector<std::string>& out) {
  auto found = object.FindMember(name);
  if (found == object.MemberEnd()) {
    std::cout << "Field " << name << " does not found" << std::endl;
    return false;
  }
  const rapidjson::Value& value = found->value;
  const AliasResolver& aliases = AliasResolver::getInstance();
  if (value.IsString()) {
    out = {aliases.resolve(fields::textOf(value))};
    return true;
  }
  if (!value.IsArray()) {
    std::cout << "Field " << name << " has invalid type" << std::endl;
    return false;
  }
  std::vector<std::string> collected;
  for (const auto& item : value.GetArray()) {
    if (!item.IsString()) {
      std::cout << "Field " << name << " array has invalid items type" << std::endl;
      return false;
    }
    collected.push_back(aliases.resolve(fields::textOf(item)));
  }
  out = std::move(collected);
  return true;
}

std::vector<SelectedFile> FilesActionInterface::selectFiles() const {
  return FileSelection(includeValid ? &includeList : nullptr, excludeValid ? &excludeList : nullptr, recursive)
      .select();
}

FilesActionInterface::FileList FilesActionInterface::getResultFileList() {
  FileList result;
  for (SelectedFile& entry : selectFiles()) result.emplace_back(std::move(entry.file), std::move(entry.suffix));
  return result;
}
