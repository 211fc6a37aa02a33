// ExecuteAction: the "execute" step, which runs a program through the
// system shell, waiting for it or leaving it running in the background.
//
// Reads the required string "program" (used verbatim: it may hold its own
// arguments and quoting), the optional boolean "wait" and the optional array
// of strings "arguments", each passed through the alias resolver. A missing
// "program" prints "Fail to parse Execute Action" (no line end) and leaves
// the action invalid; a non-string argument prints a line and drops every
// argument. An unbound alias among the arguments throws out of the
// constructor. perform() prints the command line and the raw status word
// that system() returned; the status never changes the run.
#pragma once

#include <string>
#include <vector>

#include "actions/Action.h"

class ExecuteAction final : public Action {
 public:
  explicit ExecuteAction(const rapidjson::Value& object);

  void perform() override;

  // The text handed to the shell: the program, then each argument after a
  // blank (in double quotes when it holds white space), then "&" when the
  // program is not waited for.
  std::string commandLine() const;

 private:
  std::string _program;
  std::vector<std::string> _arguments;
  bool _wait = false;
};
