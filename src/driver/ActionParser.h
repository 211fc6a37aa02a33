// ActionParser: turns one action set of the manifest into the ordered list of
// action objects that the driver performs.
//
// Both operations are static and keep no state. Problems with the manifest's
// layout (no "actions", not an array, a set number out of range, a set that
// is not an array) are printed as one line each and give an empty list; an
// element without a string "type" is skipped with a line, an unknown type is
// skipped silently. Actions whose own fields are bad are still appended and
// stay invalid. The only exception that leaves here is one thrown by an
// action constructor (an unbound alias).
#pragma once

#include <rapidjson/document.h>

#include <memory>
#include <vector>

#include "actions/Action.h"

using ActionList = std::vector<std::shared_ptr<Action>>;

class ActionParser {
 public:
  // REQUIRES: root is a JSON object. `set` is compared as an unsigned 32-bit
  // number, so every negative set number is out of range.
  static ActionList getActionList(rapidjson::Value& root, int set);

  // Builds one action per element of `actions` whose "type" names a kind.
  static ActionList parseActions(const rapidjson::Value::Array& actions);
};
