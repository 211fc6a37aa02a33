#include "actions/ExecuteAction.h"

#include <cstdlib>
#include <iostream>

#include "actions/ActionFields.h"
#include "driver/AliasResolver.h"

namespace {

// White space as the POSIX locale classifies it, whatever locale the process
// runs in; bytes from 0x80 up never count.
bool isPosixSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool hasWhiteSpace(const std::string& text) {
  for (char c : text) {
    if (isPosixSpace(c)) return true;
  }
  return false;
}

}  // namespace

ExecuteAction::ExecuteAction(const rapidjson::Value& object) : Action(object) {
  std::optional<std::string> programField = fields::readString(object, "program");
  if (!programField) {
    fields::reportParseFailure("Execute");
    return;
  }
  program = *programField;
  valid = true;

  if (std::optional<bool> waitField = fields::readBool(object, "wait")) wait = *waitField;

  const rapidjson::Value* list = fields::readArray(object, "arguments");
  if (list == nullptr) return;
  std::vector<std::string> collected;
  for (const rapidjson::Value& item : list->GetArray()) {
    if (!item.IsString()) {
      // One bad item spoils the list: the program then runs without any.
      std::cout << "Field "
                << "arguments"
                << " array has invalid items type" << std::endl;
      return;
    }
    collected.push_back(AliasResolver::getInstance().resolve(fields::textOf(item)));
  }
  arguments = std::move(collected);
}

std::string ExecuteAction::commandLine() const {
  std::string line = program;
  for (const std::string& argument : arguments) {
    if (hasWhiteSpace(argument)) {
      line += " \"" + argument + "\"";
    } else {
      line += " " + argument;
    }
  }
  if (!wait) line += "&";
  return line;
}

void ExecuteAction::perform() {
  const std::string line = commandLine();
  std::cout << "Execute program " << line << std::endl;
  const int status = std::system(line.c_str());
  std::cout << "Execution program " << line << " result is " << status << std::endl;
}
