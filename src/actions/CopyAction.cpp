#include "actions/CopyAction.h"

#include <iostream>

#include "actions/QuotedPath.h"

namespace fs = std::filesystem;

CopyAction::CopyAction(const rapidjson::Value& object) : FilesActionInterface(object) {
  valid = destinationPresent && includeValid;
}

void CopyAction::perform() {
  const FileList selection = getResultFileList();
  const fs::path destinationPath(destination);
  if (!fs::exists(fs::status(destinationPath))) fs::create_directories(destinationPath);
  for (const auto& [file, suffix] : selection) {
    fs::path target = destinationPath / suffix;
    if (!suffix.empty()) fs::create_directories(target);
    target /= file.filename();
    std::cout << "Copy from " << quotedPath(file) << " to " << quotedPath(target) << std::endl;
    fs::copy(file, target, fs::copy_options::overwrite_existing | fs::copy_options::recursive);
  }
}
