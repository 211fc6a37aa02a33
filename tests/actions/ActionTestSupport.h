// Helpers shared by the action tests: JSON objects parsed from text, the
// standard output captured around in-process code, and whole runs of the
// real updater on a package whose manifest holds one action set. Everything
// is test-side; a malformed JSON text in a test throws std::invalid_argument.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace action_testing {

namespace fs = std::filesystem;
using testing_support::header;
using testing_support::readFile;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::ZipBuilder;

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

template <class Code>
std::string outputOf(Code code) {
  CapturedOutput output;
  code();
  return output.text();
}

// `text` as a JSON string literal.
inline std::string json(const std::string& text) {
  std::string literal = "\"";
  for (char c : text) literal += (c == '"' || c == '\\') ? std::string{'\\', c} : std::string{c};
  return literal + "\"";
}
inline std::string json(const fs::path& path) { return json(path.string()); }
inline std::string jsonList(const std::vector<fs::path>& paths) {
  std::string list = "[";
  for (const fs::path& path : paths) list += (list.size() > 1 ? ", " : "") + json(path);
  return list + "]";
}

// A path as the log lines quote it (std::quoted).
inline std::string q(const fs::path& path) {
  std::ostringstream quoted;
  quoted << std::quoted(path.string());
  return quoted.str();
}

using Pairs = std::vector<std::pair<fs::path, fs::path>>;

// The three log sections of a file selection.
inline std::string selectionLog(const Pairs& included, const std::vector<fs::path>& excluded, const Pairs& result) {
  std::string log = "\nInclude list: \n";
  for (const auto& [file, suffix] : included) log += "file=" + q(file) + ", suffix=" + q(suffix) + "\n";
  log += "\nExclude list: \n";
  for (const fs::path& path : excluded) log += q(path) + "\n";
  log += "\nResult list: \n";
  for (const auto& [file, suffix] : result) log += "file=" + q(file) + ", suffix=" + q(suffix) + "\n";
  return log;
}
// The same pairs as included and as result.
inline std::string selectionLog(const Pairs& pairs) { return selectionLog(pairs, {}, pairs); }

inline std::string announce(const std::string& description) { return "\nPerform action: " + description + "\n"; }

// Names in `directory` in the order the system lists them.
inline std::vector<std::string> listing(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  return names;
}

// Writes `dir`/update.zip holding `payload`'s entries and then a manifest
// with one set made of `actions` (comma-separated JSON objects), and runs
// the updater on it from `dir`.
inline RunResult runActions(const TempDir& dir, const std::string& actions, ZipBuilder payload = {},
                            testing_support::RunOptions options = {}) {
  payload.add("manifest.json", "{\"actions\": [[" + actions + "]]}").write(dir / "update.zip");
  options.cwd = dir.path();
  return testing_support::runUpdater({"-f", "update.zip"}, options);
}

// `out` must be `before` and then a single "Update failed: " line from the
// file system (worded by the library) naming `path`.
inline void expectFailureAfter(const std::string& out, const std::string& before, const fs::path& path) {
  ASSERT_EQ(out.substr(0, before.size()), before) << out;
  const std::string last = out.substr(before.size());
  EXPECT_EQ(last.rfind("Update failed: filesystem error: ", 0), 0u) << last;
  EXPECT_NE(last.find(path.string()), std::string::npos) << last;
  EXPECT_EQ(last.find('\n'), last.size() - 1) << last;
}

}  // namespace action_testing
