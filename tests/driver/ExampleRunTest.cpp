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

TEST(BundledExample, EveryActionOfTheDemoIsPerformed) {
  const fs::path example = fs::path(UPDATER_SOURCE_DIR) / "examples" / "demo";
  const std::string package = UPDATER_BINARY_DIR "/examples/demo.zip";
  ASSERT_TRUE(fs::exists(package));
  rapidjson::Document manifest;
  manifest.Parse(ts::readFile(example / "package" / "manifest.json").c_str());
  ASSERT_TRUE(manifest.IsObject() && manifest["actions"][0].IsArray());

  ts::TempDir run;
  fs::copy(example / "installed", run.path(), fs::copy_options::recursive);
  ts::RunOptions options;
  options.cwd = run.path();
  ts::RunResult r = ts::runUpdater({"-f", package}, options);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind(ts::header(package), 0), 0u) << r.out;
  size_t performed = 0;
  for (size_t at = r.out.find("\nPerform action: "); at != std::string::npos;
       at = r.out.find("\nPerform action: ", at + 1))
    ++performed;
  EXPECT_EQ(performed, manifest["actions"][0].Size()) << r.out;
  EXPECT_EQ(r.out.find("Update failed"), std::string::npos) << r.out;
}
