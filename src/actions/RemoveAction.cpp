#include "actions/RemoveAction.h"

#include <iostream>
#include <vector>

#include "actions/QuotedPath.h"
#include "platform/ChangeGuard.h"
#include "platform/Interrupt.h"

namespace fs = std::filesystem;

RemoveAction::RemoveAction(const rapidjson::Value& object) : FilesActionInterface(object) { _valid = _includeValid; }

void RemoveAction::perform() {
  const std::vector<SelectedFile> selected = getResultFiles();
  if (platform::ChangeGuard* guard = platform::activeChangeGuard()) {
    std::vector<fs::path> paths;
    for (const SelectedFile& entry : selected) {
      if (!entry.throughLink) paths.push_back(entry.reached);
    }
    guard->beforeRemoving(paths);
  }
  for (const SelectedFile& entry : selected) {
    // Removing what lies behind an opened-up link would delete data outside
    // the places the include list names.
    if (entry.throughLink) continue;
    platform::throwIfInterrupted();
    // The path as reached is what gets removed: for a link that is the link
    // itself, and a path whose link on the way is gone already leads nowhere
    // instead of into the link's target. Otherwise it is the same file as
    // the canonical one, which the line names.
    const fs::file_status status = fs::symlink_status(entry.reached);
    const bool named = fs::is_symlink(status) || !fs::exists(status);
    const fs::path& shown = named ? fs::absolute(entry.reached) : entry.file;
    std::cout << "Remove file or directory " << quotedPath(shown) << '\n';  // flushed by the driver
    platform::removeAll(entry.reached);
  }
}
