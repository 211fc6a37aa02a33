#include "actions/FileActionsHarness.h"

#include <gtest/gtest.h>

#include "actions/ActionTestHelpers.h"
#include "support/ZipBuilder.h"

namespace file_actions_test {

std::string json(const std::string& text) {
  std::string literal = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') literal += '\\';
    literal += c;
  }
  return literal + "\"";
}

std::string json(const fs::path& path) { return json(path.string()); }

std::string jsonList(const std::vector<fs::path>& paths) {
  std::string list = "[";
  for (size_t i = 0; i < paths.size(); ++i) list += (i == 0 ? "" : ", ") + json(paths[i]);
  return list + "]";
}

std::string q(const fs::path& path) { return "\"" + path.string() + "\""; }

std::string selectionLog(const Pairs& included, const std::vector<fs::path>& excluded, const Pairs& result) {
  std::string log = "\nInclude list: \n";
  for (const auto& [file, suffix] : included) log += "file=" + q(file) + ", suffix=" + q(suffix) + "\n";
  log += "\nExclude list: \n";
  for (const fs::path& path : excluded) log += q(path) + "\n";
  log += "\nResult list: \n";
  for (const auto& [file, suffix] : result) log += "file=" + q(file) + ", suffix=" + q(suffix) + "\n";
  return log;
}

std::string announce(const std::string& description) { return "\nPerform action: " + description + "\n"; }

std::string failure(const std::string& what) { return "Update failed: " + what + "\n"; }

void expectFailureAfter(const std::string& out, const std::string& before, const fs::path& path) {
  ASSERT_EQ(out.substr(0, before.size()), before) << out;
  const std::string last = out.substr(before.size());
  EXPECT_EQ(last.rfind("Update failed: filesystem error: ", 0), 0u) << last;
  if (!path.empty()) {
    EXPECT_NE(last.find(path.string()), std::string::npos) << last;
  }
  EXPECT_EQ(last.find('\n'), last.size() - 1) << last;
}

Outcome runActions(const testing_support::TempDir& dir, const std::string& actions, const std::string& package) {
  testing_support::makeManifestPackage(dir / package, "{\"actions\": [[" + actions + "]]}");
  testing_support::RunOptions options;
  options.cwd = dir.path();
  testing_support::RunResult run = testing_support::runUpdater({"-f", package}, options);
  return {run.out, run.status};
}

std::vector<std::string> listing(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  return names;
}

SelectionProbe makeProbe(const std::string& objectJson) {
  rapidjson::Document document = action_testing::parseJson(objectJson);
  return SelectionProbe(document);
}

}  // namespace file_actions_test
