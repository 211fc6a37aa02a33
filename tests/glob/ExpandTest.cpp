// Expansion of whole patterns against a real tree through the public entry
// points, including "~" and bad input.
#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "GlobTree.h"
#include "glob/glob.h"
#include "support/Helpers.h"

namespace {

using namespace glob_testing;

class Expand : public GlobTree {
 protected:
  void SetUp() override {
    files({"a",        ".b",         "e.txt",       "f.txt",       "]",         "a]b",     "a[b",
           "c/c1.txt", "c/c2.txt",   "c/.hid",      "sub/.hidden", "sub/x.txt", "t/b",     "t/x/b",
           "t/x/y/b",  "t/x/y/.h/b", "w/x1/c1.txt", "w/x2/c2.txt", "w/x3",      "lb/x\ny", "lb/\n"});
    files({("long/" + std::string(250, 'n')).c_str()});
    dir("d1");
    dir("d2/inner");
  }
};

TEST_F(Expand, Patterns) {
  struct Row {
    bool recursive;
    std::string pattern;  // "@" for the tree's absolute path, here and in the sorted results
    Strings expected;
  };
  const std::vector<Row> rows = {
      {false, "", {}},
      // Hidden names of the current directory are skipped, those below it not.
      {false, "*", {"]", "a", "a[b", "a]b", "c", "d1", "d2", "e.txt", "f.txt", "lb", "long", "sub", "t", "w"}},
      {false, "[cs]*/*.txt", {"c/c1.txt", "c/c2.txt", "sub/x.txt"}},
      // "*" stops at a line break; a name that is one line break matches all.
      {false, "lb/x*", {"lb/\n"}},
      {false, "lb/x\n[y]", {"lb/\n", "lb/x\ny"}},
      // Literal patterns; without "[", a "]" is no wildcard.
      {false, "a]b", {"a]b"}},
      // A trailing slash keeps directories only.
      {false, "c/", {"c/"}},
      {false, "d*/", {"d1/", "d2/"}},
      // Wildcards in directory parts; the file w/x3 is no directory to search.
      {false, "w/x*/c*.txt", {"w/x1/c1.txt", "w/x2/c2.txt"}},
      // "**" is a plain "*" under glob, a tree below the directory under rglob.
      {false, "t/**/b", {"t/x/b"}},
      {true, "t/**/b", {"t/x/b", "t/x/y/.h/b", "t/x/y/b"}},
      {true, "**/.*", {"c/.hid", "lb/\n", "sub/.hidden", "t/x/y/.h"}},
      // A leading dot anchors the pattern at the current directory.
      {false, ".b", {"@/.b"}},
      {false, "./*.txt", {"@/./e.txt", "@/./f.txt"}},
      // Absolute patterns give absolute paths, and hide nothing.
      {false, "@/*.txt", {"@/e.txt", "@/f.txt"}},
  };
  for (const auto& row : rows) {
    const std::string pattern = at_root({row.pattern})[0];
    EXPECT_EQ(sorted(row.recursive ? glob::rglob(pattern) : glob::glob(pattern)), at_root(row.expected))
        << (row.recursive ? "rglob " : "glob ") << row.pattern;
  }
}

TEST_F(Expand, ParentPrefixesClimbFromTheCurrentDirectory) {
  fs::current_path(root() / "d2" / "inner");
  EXPECT_EQ(sorted(glob::glob("../../*.txt")), at_root({"@/e.txt", "@/f.txt"}));
  // Only leading "../" are climbed; a later one stays in the path.
  EXPECT_EQ(texts(glob::glob("../inner/../../a")), at_root({"@/d2/inner/../../a"}));
  EXPECT_TRUE(glob::glob("*.txt").empty());  // the current directory is read at each call
  // Lists expand in order, without removing duplicates.
  EXPECT_EQ(texts(glob::rglob({"../inner", "missing", "../inner"})), at_root({"@/d2/inner", "@/d2/inner"}));
}

TEST_F(Expand, Tilde) {
  {
    EnvVar home("HOME", root().string());
    EXPECT_EQ(texts(glob::glob("~")), at_root({"@"}));
    EXPECT_EQ(sorted(glob::rglob("~/c/*")), at_root({"@/c/.hid", "@/c/c1.txt", "@/c/c2.txt"}));
  }
  EnvVar unset("HOME", std::nullopt);
  EXPECT_THROW(glob::glob("~/*"), std::invalid_argument);
  EXPECT_EQ(testing_support::outputAndError([] { glob::glob("~/*"); }).error,
            "error: Unable to expand `~` - HOME environment variable not set.");
  EXPECT_THROW(glob::rglob({"a", "~/x"}), std::invalid_argument);
}

TEST_F(Expand, BadSetsAndStatusErrorsLeaveTheLibrary) {
  // A set is compiled only when a name is tested against it.
  dir("empty");
  EXPECT_TRUE(glob::glob("empty/[\\x\\x]").empty());
  EXPECT_THROW(glob::glob("[\\x\\x]"), std::regex_error);
  EXPECT_THROW(glob::rglob("*/[a--c]"), std::regex_error);
  EXPECT_THROW(glob::glob("long/" + std::string(300, 'n')), std::filesystem::filesystem_error);  // name too long
}

}  // namespace
