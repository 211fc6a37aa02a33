// Helpers for unit tests of single actions: a JSON object parsed from text,
// and the standard output captured while a piece of code runs.
#pragma once

#include <rapidjson/document.h>

#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace action_testing {

// Parses `json`; throws when it is not valid JSON.
inline rapidjson::Document parseJson(const std::string& json) {
  rapidjson::Document document;
  document.Parse(json.c_str(), json.size());
  if (document.HasParseError()) throw std::invalid_argument("bad JSON in test: " + json);
  return document;
}

// Redirects std::cout into a string for its lifetime.
class CapturedOutput {
 public:
  CapturedOutput() : _saved(std::cout.rdbuf(_buffer.rdbuf())) {}
  ~CapturedOutput() { std::cout.rdbuf(_saved); }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  std::string text() const { return _buffer.str(); }

 private:
  std::ostringstream _buffer;
  std::streambuf* _saved;
};

// The text that `code` printed, for constructors and perform() alike.
template <class Code>
std::string outputOf(Code code) {
  CapturedOutput output;
  code();
  return output.text();
}

}  // namespace action_testing
