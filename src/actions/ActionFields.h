// The rules by which every action constructor reads its manifest fields,
// written once for all kinds:
//  - a field is the first member with exactly that name;
//  - it is used only when its JSON type is the expected one, with no
//    conversion (an integer must be a JSON integer that fits in 32 bits);
//  - strings are taken up to their first NUL character.
// Each reader returns nothing when the field is missing or of another type;
// none of them prints or throws.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <optional>
#include <string>

namespace fields {

std::optional<std::string> readString(const rapidjson::Value& object, const char* name);
std::optional<std::int32_t> readInt(const rapidjson::Value& object, const char* name);
std::optional<bool> readBool(const rapidjson::Value& object, const char* name);
// The array member, or null.
const rapidjson::Value* readArray(const rapidjson::Value& object, const char* name);

// A JSON string value's text up to its first NUL character.
std::string textOf(const rapidjson::Value& string);

// Writes "Fail to parse " + kind + " Action" with no line end: the
// constructor of a delay, execute, wait or unzip action that lacks a
// required field reports it so and stays invalid.
void reportParseFailure(const char* kind);

}  // namespace fields
