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

const rapidjson::Value* readArray(const rapidjson::Value& object, const char* name) {
  const rapidjson::Value* value = member(object, name);
  return value != nullptr && value->IsArray() ? value : nullptr;
}

void reportParseFailure(const char* kind) { std::cout << "Fail to parse " << kind << " Action"; }

}  // namespace fields
