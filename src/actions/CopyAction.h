// CopyAction: the "copy" step, which copies the selected files and
// directories into the destination directory.
//
// Valid when "destination" is a string and "include" could be read; it prints
// no message of its own (the file lists print theirs). perform() writes the
// selection log, creates the destination, then for each selected entry
// recreates its suffix directories below the destination, prints
// "Copy from <file> to <target>" and copies it recursively, overwriting
// existing files and following symbolic links. Every file-system failure
// leaves perform() as std::filesystem::filesystem_error at the entry where it
// happened; entries after it are not touched.
#pragma once

#include "actions/FilesActionInterface.h"

class CopyAction final : public FilesActionInterface {
 public:
  explicit CopyAction(const rapidjson::Value& object);

  void perform() override;
};
