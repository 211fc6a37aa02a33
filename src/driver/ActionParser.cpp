#include "driver/ActionParser.h"

#include <cstdint>
#include <iostream>
#include <string>

#include "actions/ActionFields.h"
#include "actions/CopyAction.h"
#include "actions/DelayAction.h"
#include "actions/ExecuteAction.h"
#include "actions/RemoveAction.h"
#include "actions/RenameAction.h"
#include "actions/UnzipAction.h"
#include "actions/WaitAppFinishAction.h"

namespace {

using Factory = std::shared_ptr<Action> (*)(const rapidjson::Value& object);

// One allocation for the action and its reference count; the shared pointer
// destroys the action as its concrete class.
template <class Kind>
std::shared_ptr<Action> make(const rapidjson::Value& object) {
  return std::make_shared<Kind>(object);
}

struct KindEntry {
  const char* type;
  Factory create;
};

// Every kind of action, by its manifest "type". One line per kind.
const KindEntry kKinds[] = {
    {"delay", make<DelayAction>},
    {"copy", make<CopyAction>},
    {"remove", make<RemoveAction>},
    {"execute", make<ExecuteAction>},
    {"wait_app_finish", make<WaitAppFinishAction>},
    {"unzip", make<UnzipAction>},
    {"rename", make<RenameAction>},
};

Factory factoryFor(const std::string& type) {
  for (const KindEntry& kind : kKinds) {
    if (type == kind.type) return kind.create;
  }
  return nullptr;
}

}  // namespace

ActionList ActionParser::getActionList(rapidjson::Value& root, int set) {
  auto actions = root.FindMember("actions");
  if (actions == root.MemberEnd()) {
    std::cout << "JSON has no actions member" << std::endl;
    return {};
  }
  if (!actions->value.IsArray()) {
    std::cout << "Actions isn't array" << std::endl;
    return {};
  }
  // Negative numbers become huge here and are out of range too.
  const auto index = static_cast<std::uint32_t>(set);
  if (index >= actions->value.Size()) {
    std::cout << "Invalid set number" << std::endl;
    return {};
  }
  rapidjson::Value& chosen = actions->value[index];
  if (!chosen.IsArray()) {
    std::cout << "Actrions set is not array" << std::endl;
    return {};
  }
  return parseActions(chosen.GetArray());
}

ActionList ActionParser::parseActions(const rapidjson::Value::Array& actions) {
  ActionList list;
  for (const rapidjson::Value& element : actions) {
    const rapidjson::Value* type = nullptr;
    if (element.IsObject()) {
      auto found = element.FindMember("type");
      if (found != element.MemberEnd() && found->value.IsString()) type = &found->value;
    }
    if (type == nullptr) {
      std::cout << "Skip action due invalid/unknown type" << std::endl;
      continue;
    }
    // Unknown kinds are skipped without a word.
    if (Factory create = factoryFor(fields::textOf(*type))) list.push_back(create(element));
  }
  return list;
}
