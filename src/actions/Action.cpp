#include "actions/Action.h"

#include "actions/ActionFields.h"

Action::Action(const rapidjson::Value& object) {
  if (auto text = fields::readString(object, "description")) _description = *text;
}

bool Action::isValid() const { return _valid; }

std::string Action::getDescription() const { return _description; }
