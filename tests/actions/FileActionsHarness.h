// Helpers for the tests of the file selection and the copy, remove and
// rename actions: manifests written into a package and run through the real
// updater, the expected selection log built from (file, suffix) pairs, and an
// in-process probe that runs the selection of one action object.
#pragma once

#include <rapidjson/document.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "actions/FilesActionInterface.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace file_actions_test {

namespace fs = std::filesystem;

// `text` as a JSON string literal, quotes included.
std::string json(const std::string& text);
std::string json(const fs::path& path);
// A JSON array of string literals.
std::string jsonList(const std::vector<fs::path>& paths);

// The path between double quotes; the tests use it only for paths holding
// no double quote or backslash, where nothing needs escaping.
std::string q(const fs::path& path);

using Pairs = std::vector<std::pair<fs::path, fs::path>>;

// The three log sections the selection writes.
std::string selectionLog(const Pairs& included, const std::vector<fs::path>& excluded, const Pairs& result);
// The driver's announcement of a valid action.
std::string announce(const std::string& description);
// What the driver prints when an exception ends the run.
std::string failure(const std::string& what);
// Expects `out` to be `before` followed by one "Update failed: " line from
// the file system (whose wording is the library's) that names `path`, when
// `path` is not empty.
void expectFailureAfter(const std::string& out, const std::string& before, const fs::path& path = {});

// Writes a package whose manifest has one action set holding `actions` (the
// JSON text of the elements, comma-separated) and runs the updater on it
// with `dir` as the working directory. `package` is the file name used.
struct Outcome {
  std::string out;
  int status = -1;
};
Outcome runActions(const testing_support::TempDir& dir, const std::string& actions,
                   const std::string& package = "update.zip");

// Names of the entries of `directory` in the order the system lists them.
std::vector<std::string> listing(const fs::path& directory);

// A file action that only selects: its perform() does nothing.
class SelectionProbe final : public FilesActionInterface {
 public:
  explicit SelectionProbe(const rapidjson::Value& object) : FilesActionInterface(object) { valid = includeValid; }
  void perform() override {}
  std::vector<SelectedFile> entries() const { return selectFiles(); }
};

// Parses `objectJson` (a JSON object) and builds a probe from it.
SelectionProbe makeProbe(const std::string& objectJson);

}  // namespace file_actions_test
