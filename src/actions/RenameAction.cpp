#include "actions/RenameAction.h"

#include <filesystem>
#include <iostream>

#include "actions/ActionFields.h"
#include "platform/ChangeGuard.h"

RenameAction::RenameAction(const rapidjson::Value& object) : Action(object) {
  auto fromText = fields::readString(object, "from");
  auto toText = fields::readString(object, "to");
  if (!fromText || !toText) return;
  from = *fromText;
  to = *toText;
  valid = true;
}

void RenameAction::perform() {
  std::cout << "Rename " << from << " to " << to << std::endl;
  platform::renamePath(from, to);
}
