// Helpers shared by the action and driver tests: manifests written as JSON
// text into a package in a temporary directory and run through the updater
// in this process, and the log lines of the file selection.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/Updater.h"
#include "support/Helpers.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace action_testing {

namespace fs = std::filesystem;
using namespace testing_support;

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

// Runs the updater's driver in this process from `cwd` with `args`; output
// and status as a run of the executable would give them.
inline RunResult runHere(const fs::path& cwd, std::vector<std::string> args) {
  const fs::path before = fs::current_path();
  fs::current_path(cwd);
  std::vector<char*> argv{const_cast<char*>("updater")};
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  RunResult result;
  result.out = outputOf([&] {
    result.status = ::runUpdater(static_cast<int>(args.size() + 1), argv.data());
    std::cout.flush();
  });
  fs::current_path(before);
  return result;
}

// Writes `dir`/update.zip holding `payload`'s entries and then a manifest
// with one set made of `actions` (comma-separated JSON objects), and runs
// the updater on it from `dir`: in this process, or as the executable when
// `options` are given.
inline RunResult runActions(const TempDir& dir, const std::string& actions, ZipBuilder payload = {},
                            std::optional<RunOptions> options = std::nullopt) {
  payload.add("manifest.json", "{\"actions\": [[" + actions + "]]}").write(dir / "update.zip");
  if (!options) return runHere(dir.path(), {"-f", "update.zip"});
  options->cwd = dir.path();
  return testing_support::runUpdater({"-f", "update.zip"}, *options);
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
