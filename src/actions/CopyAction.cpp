#include "actions/CopyAction.h"

#include <iostream>
#include <system_error>

#include "actions/QuotedPath.h"
#include "platform/ChangeGuard.h"
#include "platform/Interrupt.h"

namespace fs = std::filesystem;

CopyAction::CopyAction(const rapidjson::Value& object) : FilesActionInterface(object) {
  _valid = _destinationPresent && _includeValid;
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

constexpr fs::copy_options kCopyOptions = fs::copy_options::overwrite_existing | fs::copy_options::recursive;

// The recursive copy of std::filesystem::copy, one entry at a time, so that
// the active guard sees every entry before it is created or overwritten.
// Links in the source are followed, as the library does; whatever the
// library refuses is left to it, so the errors stay the same.
void copyGuarded(platform::ChangeGuard& guard, const fs::path& from, const fs::path& to) {
  if (guard.owns(from)) return;
  const fs::file_status source = fs::status(from);
  const fs::file_status target = fs::status(to);
  if (fs::is_directory(source)) {
    if (!fs::exists(target)) {
      guard.beforeOverwrite(to);
      fs::create_directory(to, from);
    } else if (!fs::is_directory(target)) {
      fs::copy(from, to, kCopyOptions);  // throws as the plain copy does
      return;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
      copyGuarded(guard, entry.path(), to / entry.path().filename());
    }
    return;
  }
  if (fs::is_regular_file(source) && !fs::is_directory(target) && !(fs::exists(target) && fs::equivalent(from, to))) {
    // A link at the target is written through by the library: what changes
    // is the file it leads to.
    guard.beforeOverwrite(fs::is_symlink(fs::symlink_status(to)) ? fs::weakly_canonical(to) : to);
  }
  fs::copy(from, to, kCopyOptions);
}

void copyEntry(const fs::path& from, const fs::path& to) {
  if (platform::ChangeGuard* guard = platform::activeChangeGuard()) {
    copyGuarded(*guard, from, to);
  } else {
    fs::copy(from, to, kCopyOptions);
  }
}

}  // namespace

void CopyAction::perform() {
  const FileList selection = getResultFileList();
  const fs::path destinationPath(_destination);
  refuseCopiesIntoThemselves(selection, destinationPath);
  if (!fs::exists(fs::status(destinationPath))) platform::createDirectories(destinationPath);
  for (const auto& [file, suffix] : selection) {
    platform::throwIfInterrupted();
    fs::path target = destinationPath / suffix;
    if (!suffix.empty()) platform::createDirectories(target);
    target /= file.filename();
    std::cout << "Copy from " << quotedPath(file) << " to " << quotedPath(target) << '\n';  // flushed by the driver
    copyEntry(file, target);
  }
}
