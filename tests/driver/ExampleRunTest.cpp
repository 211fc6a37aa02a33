// The bundled example, run the way scripts/example runs it: in a copy of its
// installed tree, with the package the build made from its package/ folder.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <filesystem>
#include <string>

#include "support/Process.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
namespace ts = testing_support;

namespace {

size_t countOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

}  // namespace

TEST(BundledExample, EveryActionOfTheDemoIsPerformed) {
  const fs::path example = fs::path(UPDATER_SOURCE_DIR) / "examples" / "demo";
  const std::string package = UPDATER_BINARY_DIR "/examples/demo.zip";
  ASSERT_TRUE(fs::exists(package));

  rapidjson::Document manifest;
  manifest.Parse(ts::readFile(example / "package" / "manifest.json").c_str());
  ASSERT_TRUE(manifest.IsObject());
  const rapidjson::Value& set = manifest["actions"][0];
  ASSERT_TRUE(set.IsArray());

  ts::TempDir run;
  fs::copy(example / "installed", run.path(), fs::copy_options::recursive);
  ts::RunOptions options;
  options.cwd = run.path();
  ts::RunResult r = ts::runUpdater({"-f", package}, options);

  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind(ts::header(package), 0), 0u) << r.out;
  EXPECT_EQ(countOf(r.out, "\nPerform action: "), set.Size()) << r.out;
  EXPECT_EQ(r.out.find("Update failed"), std::string::npos) << r.out;
}
