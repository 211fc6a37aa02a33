#include "actions/ActionFields.h"

#include <iostream>

namespace fields {
namespace {

const rapidjson::Value* member(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return nullptr;
  // FindMember returns the first of repeated names.
  auto found = object.FindMember(name);
  return found == object.MemberEnd() ? nullptr : &found->value;
}

}  // namespace

std::string textOf(const rapidjson::Value& string) { return std::string(string.GetString()); }

std::optional<std::string> readString(const rapidjson::Value& object, const char* name) {
  const rapidjson::Value* value = member(object, name);
  if (value == nullptr || !value->IsString()) return std::nullopt;
  return textOf(*value);
}

std::optional<std::int32_t> readInt(const rapidjson::Value& object, const char* name) {
  const rapidjson::Value* value = member(object, name);
  if (value == nullptr || !value->IsInt()) return std::nullopt;
  return value->GetInt();
}

std::optional<bool> readBool(const rapidjson::Value& object, const char* name) {
  const rapidjson::Value* value = member(object, name);
  if (value == nullptr || !value->IsBool()) return std::nullopt;
  return value->GetBool();
}

StringList readStringList(const rapidjson::Value& object, const char* name, LoneString lone) {
  StringList list;
  const rapidjson::Value* value = member(object, name);
  if (value == nullptr) return list;
  if (value->IsString() && lone == LoneString::Accepted) {
    list.items.push_back(textOf(*value));
    list.status = ListStatus::Ok;
    return list;
  }
  if (!value->IsArray()) {
    list.status = ListStatus::WrongType;
    return list;
  }
  for (const rapidjson::Value& item : value->GetArray()) {
    if (!item.IsString()) {
      list.status = ListStatus::BadItem;
      return list;
    }
    list.items.push_back(textOf(item));
  }
  list.status = ListStatus::Ok;
  return list;
}

void reportListProblem(const char* name, ListStatus status) {
  switch (status) {
    case ListStatus::Ok:
      return;
    case ListStatus::Missing:
      std::cout << "Field " << name << " does not found" << std::endl;
      return;
    case ListStatus::WrongType:
      std::cout << "Field " << name << " has invalid type" << std::endl;
      return;
    case ListStatus::BadItem:
      std::cout << "Field " << name << " array has invalid items type" << std::endl;
      return;
  }
}

void reportParseFailure(const char* kind) { std::cout << "Fail to parse " << kind << " Action"; }

}  // namespace fields
