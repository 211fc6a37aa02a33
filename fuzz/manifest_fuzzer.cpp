// Fuzz target: a manifest from arbitrary bytes.
//
// Parses the bytes the way the run driver does (ManifestDocument: the
// iterative parser over a NUL-terminated copy, so a NUL byte ends the input) and, when the root
// is an object, builds the action list of the first sets and of an invalid
// set number with ActionParser::getActionList, "@update.zip" registered.
// Nothing is performed: only constructors, isValid and getDescription run.
// What the constructors print is discarded to keep executions fast. The only
// exception allowed out of the parser is the unbound-alias one.
#include <rapidjson/document.h>

#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <streambuf>
#include <string>

#include "FuzzCheck.h"
#include "alias/AliasResolver.h"
#include "driver/ActionParser.h"
#include "driver/ManifestDocument.h"

namespace {

// Swallows everything written to it.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// Sends std::cout to a NullBuffer for its lifetime.
class SilencedOutput {
 public:
  SilencedOutput() : _saved(std::cout.rdbuf(&_null)) {}
  ~SilencedOutput() { std::cout.rdbuf(_saved); }
  SilencedOutput(const SilencedOutput&) = delete;
  SilencedOutput& operator=(const SilencedOutput&) = delete;

 private:
  NullBuffer _null;
  std::streambuf* _saved;
};

void buildList(rapidjson::Value& root, int set) {
  try {
    ActionList actions = ActionParser::getActionList(root, set);
    for (const auto& action : actions) {
      FUZZ_CHECK(action != nullptr);
      (void)action->isValid();
      (void)action->getDescription();
    }
  } catch (const std::runtime_error& error) {
    FUZZ_CHECK(std::string(error.what()) == "Alias does not found");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = [] {
    AliasResolver::getInstance().addAlias("@update.zip", "/nonexistent/fuzz/update.zip");
    return true;
  }();
  (void)registered;

  std::string text(reinterpret_cast<const char*>(data), size);
  // The driver's own document: its up-front reservation must hold every
  // value (it asserts that the pool never grew beyond it).
  manifest_json::ManifestDocument parsed(text);
  rapidjson::Value& document = parsed.root();
  if (!document.IsObject()) return 0;

  SilencedOutput silence;
  for (int set : {0, 1, 2, -1}) buildList(document, set);
  return 0;
}
