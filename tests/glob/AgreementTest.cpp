// Whole expansions through the public entry points agree, path for path and
// in the same order, with the plain restatement of the rules in PlainGlob.h,
// over a tree with hidden names, symbolic links and several current
// directories.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GlobTree.h"
#include "PlainGlob.h"
#include "glob/glob.h"

namespace {

using namespace glob_testing;

class Agreement : public GlobTree {
 protected:
  void SetUp() override {
    for (const char* f : {"w/a.txt", "w/.hid.txt", "w/b.h", "w/src/x.h", "w/src/y.cpp", "w/src/.dot/z.h",
                          "w/src/deep/er/est.h", "w/src/deep/er/.h", "w/doc/readme.txt", "w/.cfg/settings.txt",
                          "w/my dir/file (1).txt", "w/[x]/br.txt", "w/x/plain.txt", "outside/o.h", "outside/sub/p.h"})
      file(std::string("t/") + f);
    dir("t/w/empty");
    link("t/w/src/link_to_doc", "../doc");
    link("t/w/outside_link", top() / "outside");
    link("t/w/file_link.txt", "a.txt");
    link("t/w/dangling.h", "nowhere.h");
    link("t/w/src/deep/up_sideways", "../../doc");
  }

  // Everything lives below "t", so that patterns climbing out of the current
  // directory never leave the temporary directory.
  fs::path top() const { return root() / "t"; }

  void expect_agreement(const std::vector<std::string>& patterns) {
    for (const auto& pattern : patterns) {
      EXPECT_EQ(texts(glob::glob(pattern)), texts(plain::glob(pattern, false, false)))
          << "glob " << pattern << " in " << fs::current_path();
      EXPECT_EQ(texts(glob::rglob(pattern)), texts(plain::glob(pattern, true, false)))
          << "rglob " << pattern << " in " << fs::current_path();
    }
  }
};

const std::vector<std::string> relative_patterns = {
    "*",      "*.txt",      "*/*",       "*/*.h",       "**",     "**/*.h",        "**/",     "*/",
    "src/**", "src/**/*.h", "src/*/",    "src/**/",     ".*",     "*/.*",          "./*",     "./src/*",
    "../*",   "../w/*/*.h", "[ab]*",     "[!a]*.txt",   "my*/*",  "[[]x]/*",       "?/*.txt", "src/link*/*",
    "src/l*", "dangling.h", "missing/*", "src/deep/**", "*/**/*", "outside_link/*"};

TEST_F(Agreement, RelativePatternsFromTheTreeRoot) {
  CurrentDir in(top() / "w");
  expect_agreement(relative_patterns);
}

TEST_F(Agreement, RelativePatternsFromBelowAndAbove) {
  for (const fs::path& cwd : {top() / "w/src", top() / "w/src/deep/er", top() / "outside"}) {
    CurrentDir in(cwd);
    expect_agreement(relative_patterns);
    expect_agreement({"w/**/*.h", "w/*/*", "../**/*.h", "../../*", "w/src/../**"});
  }
}

TEST_F(Agreement, AbsolutePatterns) {
  const std::string r = top().string();
  expect_agreement({r + "/w/*", r + "/w/**", r + "/w/**/*.h", r + "/w/**/", r + "/w/*/*.txt", r + "/*/src/*",
                    r + "/w/src/deep/../*", r + "/w/.*", r + "/w/outside_link/**"});
}

}  // namespace
