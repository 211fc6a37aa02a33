// Expansion of whole patterns against a real tree through the public entry
// points: relative and absolute patterns, anchoring, hidden names, trailing
// slashes, "**", lists, "~" and bad input.
#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "GlobTree.h"
#include "glob/glob.h"

namespace {

using namespace glob_testing;

class Expand : public GlobTree {
 protected:
  const std::string long_name = "long/" + std::string(250, 'n') + ".txt";
  void SetUp() override {
    files({"a",           ".b",          "e.txt",       "f.txt",     "]",       "a]b",   "a[b",     "c/c1.txt",
           "c/c2.txt",    "c/.hid",      "sub/.hidden", "sub/x.txt", "t/b",     "t/x/b", "t/x/y/b", "t/x/y/.h/b",
           "w/x1/c1.txt", "w/x2/c2.txt", "w/y/c3.txt",  "w/x3",      "lb/x\ny", "lb/\n"});
    files({long_name.c_str()});
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
      {false, "sub/*", {"sub/.hidden", "sub/x.txt"}},
      {false, "[cs]*/*.txt", {"c/c1.txt", "c/c2.txt", "sub/x.txt"}},
      // "*" stops at a line break; a name that is one line break matches all.
      {false, "lb/x*", {"lb/\n"}},
      {false, "lb/x\n[y]", {"lb/\n", "lb/x\ny"}},
      {false, "long/*.txt", {long_name}},
      // Literal patterns; without "[", a "]" is no wildcard.
      {false, "c/c1.txt", {"c/c1.txt"}},
      {false, "lb/x\ny", {"lb/x\ny"}},
      {false, "a]b", {"a]b"}},
      {false, "a[b", {"a[b"}},
      {false, "missing/x", {}},
      {false, "a/x", {}},
      // A trailing slash keeps directories only.
      {false, "c/", {"c/"}},
      {false, "a/", {}},
      {false, "d*/", {"d1/", "d2/"}},
      // Wildcards in directory parts; the file w/x3 is no directory to search.
      {false, "w/x*/c*.txt", {"w/x1/c1.txt", "w/x2/c2.txt"}},
      // "**" is a plain "*" under glob, a tree below the directory under rglob.
      {false, "t/**/b", {"t/x/b"}},
      {true, "t/**/b", {"t/x/b", "t/x/y/.h/b", "t/x/y/b"}},
      {true, "t/**", {"t/b", "t/x", "t/x/b", "t/x/y", "t/x/y/.h", "t/x/y/.h/b", "t/x/y/b"}},
      {true,
       "**/",
       {"c/", "d1/", "d2/", "d2/inner/", "lb/", "long/", "sub/", "t/", "t/x/", "t/x/y/", "t/x/y/.h/", "w/", "w/x1/",
        "w/x2/", "w/y/"}},
      {true, "*/**/*.txt", {"w/x1/c1.txt", "w/x2/c2.txt", "w/y/c3.txt"}},
      {true, "**/.*", {"c/.hid", "lb/\n", "sub/.hidden", "t/x/y/.h"}},
      // A leading dot anchors the pattern at the current directory.
      {false, ".b", {"@/.b"}},
      {false, "./*.txt", {"@/./e.txt", "@/./f.txt"}},
      {false, "./.*", {"@/./.b"}},
      // Absolute patterns give absolute paths, and hide nothing.
      {false, "@/*.txt", {"@/e.txt", "@/f.txt"}},
      {false, "@/c*/c?.txt", {"@/c/c1.txt", "@/c/c2.txt"}},
      {true, "@/t/**/b", {"@/t/x/b", "@/t/x/y/.h/b", "@/t/x/y/b"}},
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
  EXPECT_TRUE(glob::glob("../*.txt").empty());
  EXPECT_TRUE(glob::glob("*.txt").empty());  // the current directory is read at each call
}

TEST_F(Expand, ListsAreExpandedInOrderWithoutDeduplication) {
  EXPECT_EQ(texts(glob::glob({"c/c1.txt", "missing", "a", "c/c1.txt"})), (Strings{"c/c1.txt", "a", "c/c1.txt"}));
  const auto twice = glob::glob(std::vector<std::string>{"*.txt", "*.txt"});
  ASSERT_EQ(twice.size(), 4u);
  EXPECT_EQ(sorted({twice[0], twice[1]}), sorted({twice[2], twice[3]}));
  EXPECT_EQ(texts(glob::rglob({"d2/**", "d1", "d2/**"})), (Strings{"d2/inner", "d1", "d2/inner"}));
  EXPECT_TRUE(glob::rglob(std::vector<std::string>{}).empty());
}

TEST_F(Expand, Tilde) {
  {
    EnvVar home("HOME", root().string());
    EXPECT_EQ(texts(glob::glob("~")), at_root({"@"}));
    EXPECT_EQ(sorted(glob::rglob("~/c/*")), at_root({"@/c/.hid", "@/c/c1.txt", "@/c/c2.txt"}));
    EnvVar slash("HOME", root().string() + "/");
    EXPECT_EQ(texts(glob::glob("~c/c1.txt")), at_root({"@/c/c1.txt"}));  // only the "~" is replaced
  }
  EnvVar unset("HOME", std::nullopt);
  for (const char* pattern : {"~", "~/*"}) {
    try {
      glob::glob(pattern);
      ADD_FAILURE() << pattern << " did not throw";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "error: Unable to expand `~` - HOME environment variable not set.");
    }
  }
  EXPECT_THROW(glob::rglob({"a", "~/x"}), std::invalid_argument);
  files({"x~"});
  EXPECT_EQ(texts(glob::glob("x~")), (Strings{"x~"}));
}

TEST_F(Expand, BadSetsAndStatusErrorsLeaveTheLibrary) {
  // A set is compiled only when a name is tested against it.
  dir("empty");
  EXPECT_TRUE(glob::glob("empty/[\\x\\x]").empty());
  EXPECT_TRUE(glob::glob("missing/[\\x\\x]").empty());
  EXPECT_THROW(glob::glob("[\\x\\x]"), std::regex_error);
  EXPECT_THROW(glob::rglob("*/[a--c]"), std::regex_error);
  EXPECT_THROW(glob::glob("long/" + std::string(300, 'n')), std::filesystem::filesystem_error);  // name too long
}

}  // namespace
