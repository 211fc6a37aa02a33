#include "actions/CopyAction.h"

#include <iostream>
#include <system_error>

#include "actions/QuotedPath.h"
#include "platform/Interrupt.h"

namespace fs = std::filesystem;

CopyAction::CopyAction(const rapidjson::Value& object) : FilesActionInterface(object) {
  valid = destinationPresent && includeValid;
}

namespace {

// Whether `path` lies below the directory `directory` (both canonical).
bool below(const fs::path& path, const fs::path& directory) {
  auto level = path.begin();
  for (const fs::path& element : directory) {
    if (level == path.end() || *level != element) return false;
    ++level;
  }
  return level != path.end();
}

// A directory copied into its own subtree would copy its copy again and
// again until paths grow too long; such a selection is refused before
// anything is copied.
void refuseCopiesIntoThemselves(const FilesActionInterface::FileList& selection, const fs::path& destination) {
  for (const auto& [file, suffix] : selection) {
    if (!fs::is_directory(file)) continue;
    const fs::path target = fs::weakly_canonical(destination / suffix / file.filename());
    if (below(target, file)) {
      throw fs::filesystem_error("cannot copy a directory into itself", file, target,
                                 std::make_error_code(std::errc::invalid_argument));
    }
  }
}

}  // namespace

void CopyAction::perform() {
  const FileList selection = getResultFileList();
  const fs::path destinationPath(destination);
  refuseCopiesIntoThemselves(selection, destinationPath);
  if (!fs::exists(fs::status(destinationPath))) fs::create_directories(destinationPath);
  for (const auto& [file, suffix] : selection) {
    platform::throwIfInterrupted();
    fs::path target = destinationPath / suffix;
    if (!suffix.empty()) fs::create_directories(target);
    target /= file.filename();
    std::cout << "Copy from " << quotedPath(file) << " to " << quotedPath(target) << std::endl;
    fs::copy(file, target, fs::copy_options::overwrite_existing | fs::copy_options::recursive);
  }
}
