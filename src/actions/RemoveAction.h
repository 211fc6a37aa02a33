// RemoveAction: the "remove" step, which deletes the selected files and
// directories with everything below them.
//
// Valid when "include" could be read. perform() writes the selection log,
// then prints "Remove file or directory <path>" and removes each selected
// entry. It deletes only what the selection reached: a symbolic link is
// removed as the link itself and its target is left alone, and entries that
// lie in a link's target because the selection opened up the link are not
// removed at all. An entry that no longer exists is passed over. Failures
// leave perform() as std::filesystem::filesystem_error at the entry where
// they happened; later entries are not touched.
#pragma once

#include "actions/FilesActionInterface.h"

class RemoveAction final : public FilesActionInterface {
 public:
  explicit RemoveAction(const rapidjson::Value& object);

  void perform() override;
};
