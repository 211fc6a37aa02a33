#include "actions/RenameAction.h"

#include <filesystem>
#include <iostream>

#include "actions/ActionFields.h"
#include "platform/ChangeGuard.h"

RenameAction::RenameAction(const rapidjson::Value& object) : Action(object) {
  auto fromText = fields::readString(object, "from");
  auto toText = fields::readString(object, "to");
  if (!fromText || !toText) return;
  _from = *fromText;
  _to = *toText;
  _valid = true;
}

void RenameAction::perform() {
  std::cout << "Rename " << _from << " to " << _to << std::endl;
  platform::renamePath(_from, _to);
}
