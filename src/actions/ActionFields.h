// The rules by which every action constructor reads its manifest fields,
// written once for all kinds:
//  - a field is the first member with exactly that name;
//  - it is used only when its JSON type is the expected one, with no
//    conversion (an integer must be a JSON integer that fits in 32 bits);
//  - strings are taken up to their first NUL character.
// Each reader returns nothing (a list reader: why not) when the field is
// missing or of another type; none of them prints or throws, the report
// functions print.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fields {

std::optional<std::string> readString(const rapidjson::Value& object, const char* name);
std::optional<std::int32_t> readInt(const rapidjson::Value& object, const char* name);
std::optional<bool> readBool(const rapidjson::Value& object, const char* name);

// A list of strings: an array whose items are all strings, or, where the
// field admits it, a lone string standing for a list of one.
enum class ListStatus { Ok, Missing, WrongType, BadItem };
enum class LoneString { Accepted, Refused };
struct StringList {
  ListStatus status = ListStatus::Missing;
  // Every item when Ok; with BadItem, the items before the first bad one
  // (a caller that resolves aliases meets an unbound one there first).
  std::vector<std::string> items;
};
StringList readStringList(const rapidjson::Value& object, const char* name, LoneString lone);

// Prints the line for a list that is not Ok: "Field <name> does not found",
// "... has invalid type" or "... array has invalid items type".
void reportListProblem(const char* name, ListStatus status);

// A JSON string value's text up to its first NUL character.
std::string textOf(const rapidjson::Value& string);

// Writes "Fail to parse " + kind + " Action" with no line end: the
// constructor of a delay, execute, wait or unzip action that lacks a
// required field reports it so and stays invalid.
void reportParseFailure(const char* kind);

}  // namespace fields
