#include "actions/ExecuteAction.h"

#include <cstdlib>
#include <iostream>

#include "actions/ActionFields.h"
#include "alias/AliasResolver.h"

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
  _program = *programField;
  _valid = true;

  if (std::optional<bool> waitField = fields::readBool(object, "wait")) _wait = *waitField;

  // Only an array counts; anything else is passed over in silence.
  fields::StringList list = fields::readStringList(object, "arguments", fields::LoneString::Refused);
  for (std::string& item : list.items) item = AliasResolver::getInstance().resolve(item);
  if (list.status == fields::ListStatus::BadItem) {
    // One bad item spoils the list: the program then runs without any.
    fields::reportListProblem("arguments", list.status);
    return;
  }
  if (list.status == fields::ListStatus::Ok) _arguments = std::move(list.items);
}

std::string ExecuteAction::commandLine() const {
  std::string line = _program;
  for (const std::string& argument : _arguments) {
    if (hasWhiteSpace(argument)) {
      line += " \"" + argument + "\"";
    } else {
      line += " " + argument;
    }
  }
  if (!_wait) line += "&";
  return line;
}

void ExecuteAction::perform() {
  const std::string line = commandLine();
  std::cout << "Execute program " << line << std::endl;
  const int status = std::system(line.c_str());
  std::cout << "Execution program " << line << " result is " << status << std::endl;
}
