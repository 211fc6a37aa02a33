// RenameAction: the "rename" step, which renames or moves one path.
//
// Reads the strings "from" and "to" literally (no alias resolution); the
// action is valid only when both are strings, and prints nothing when they
// are not. perform() prints "Rename <from> to <to>" unquoted and renames with
// the operating system's rules; a failure leaves it as
// std::filesystem::filesystem_error.
#pragma once

#include <string>

#include "actions/Action.h"

class RenameAction final : public Action {
 public:
  explicit RenameAction(const rapidjson::Value& object);

  void perform() override;

 private:
  std::string _from;
  std::string _to;
};
