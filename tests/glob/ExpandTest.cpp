// Expansion of whole patterns against real trees through the public entry
// points: relative and absolute patterns, anchoring, hidden names, trailing
// slashes, "**", "~" and the error cases.
#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "GlobTree.h"
#include "glob/glob.h"

namespace {

using namespace glob_testing;
using Strings = std::vector<std::string>;

class Expand : public GlobTree {
 protected:
  void SetUp() override {
    file("a");
    file(".b");
    file("e.txt");
    file("f.txt");
    file("c/c1.txt");
    file("c/c2.txt");
    file("c/.hid");
    file("sub/.hidden");
    file("sub/x.txt");
    dir("d1");
    dir("d2/inner");
  }
};

TEST_F(Expand, EmptyPatternYieldsNothing) { EXPECT_TRUE(glob::glob("").empty()); }

TEST_F(Expand, StarSkipsHiddenNamesOfTheCurrentDirectory) {
  EXPECT_EQ(sorted(glob::glob("*")), (Strings{"a", "c", "d1", "d2", "e.txt", "f.txt", "sub"}));
  EXPECT_EQ(sorted(glob::glob("*.txt")), (Strings{"e.txt", "f.txt"}));
  EXPECT_EQ(sorted(glob::glob("?")), (Strings{"a", "c"}));
  EXPECT_EQ(sorted(glob::glob("[ac]")), (Strings{"a", "c"}));
  EXPECT_EQ(sorted(glob::glob("[!ac]*")), (Strings{"d1", "d2", "e.txt", "f.txt", "sub"}));
}

TEST_F(Expand, HiddenNamesOfASubdirectoryAreListed) {
  EXPECT_EQ(sorted(glob::glob("sub/*")), (Strings{"sub/.hidden", "sub/x.txt"}));
  EXPECT_EQ(sorted(glob::glob("c/.*")), (Strings{"c/.hid"}));
  EXPECT_EQ(sorted(glob::glob("*/*.txt")), (Strings{"c/c1.txt", "c/c2.txt", "sub/x.txt"}));
}

TEST_F(Expand, DotPatternsAreAnchoredAtTheCurrentDirectory) {
  const std::string base = root().string() + "/./";
  EXPECT_EQ(sorted(glob::glob("./*")), (Strings{base + ".b", base + "a", base + "c", base + "d1", base + "d2",
                                                base + "e.txt", base + "f.txt", base + "sub"}));
  EXPECT_EQ(texts(glob::glob("./a")), (Strings{base + "a"}));
  EXPECT_EQ(sorted(glob::glob("./sub/*.txt")), (Strings{base + "sub/x.txt"}));
}

TEST_F(Expand, ParentPrefixesClimbFromTheCurrentDirectory) {
  CurrentDir inside(root() / "d2" / "inner");
  EXPECT_EQ(sorted(glob::glob("../../*.txt")), (Strings{(root() / "e.txt").string(), (root() / "f.txt").string()}));
  EXPECT_EQ(texts(glob::glob("../../c/c1.txt")), (Strings{(root() / "c/c1.txt").string()}));
  // Only leading "../" are climbed; a later one stays in the path.
  EXPECT_EQ(texts(glob::glob("../inner/../../a")), (Strings{(root() / "d2/inner/../../a").string()}));
  EXPECT_TRUE(glob::glob("../*.txt").empty());
}

TEST_F(Expand, LiteralPatterns) {
  EXPECT_EQ(texts(glob::glob("a")), (Strings{"a"}));
  EXPECT_EQ(texts(glob::glob("c/c1.txt")), (Strings{"c/c1.txt"}));
  // A leading dot anchors the pattern, even for a hidden name.
  EXPECT_EQ(texts(glob::glob(".b")), (Strings{(root() / ".b").string()}));
  EXPECT_TRUE(glob::glob("missing").empty());
  EXPECT_TRUE(glob::glob("missing/x").empty());
  EXPECT_TRUE(glob::glob("a/x").empty());
  // Without an opening bracket there is no magic: "a]b" is a plain name.
  file("a]b");
  EXPECT_EQ(texts(glob::glob("a]b")), (Strings{"a]b"}));
  file("a[b");
  EXPECT_EQ(texts(glob::glob("a[b")), (Strings{"a[b"}));
}

TEST_F(Expand, TrailingSlashKeepsDirectoriesOnly) {
  EXPECT_EQ(texts(glob::glob("c/")), (Strings{"c/"}));
  EXPECT_TRUE(glob::glob("a/").empty());
  EXPECT_TRUE(glob::glob("missing/").empty());
  EXPECT_EQ(sorted(glob::glob("d*/")), (Strings{"d1/", "d2/"}));
  EXPECT_EQ(sorted(glob::glob("*/")), (Strings{"c/", "d1/", "d2/", "sub/"}));
}

TEST_F(Expand, DirectoryPartsWithWildcards) {
  file("w/x1/c1.txt");
  file("w/x1/d.txt");
  file("w/x2/c2.txt");
  file("w/y/c3.txt");
  file("w/x3");  // a file: never a directory to search
  EXPECT_EQ(sorted(glob::glob("w/x*/c*.txt")), (Strings{"w/x1/c1.txt", "w/x2/c2.txt"}));
  EXPECT_EQ(sorted(glob::glob("w/*/c*.txt")), (Strings{"w/x1/c1.txt", "w/x2/c2.txt", "w/y/c3.txt"}));
  EXPECT_EQ(sorted(glob::glob("w/x?/d.txt")), (Strings{"w/x1/d.txt"}));
  EXPECT_TRUE(glob::glob("w/z*/c*.txt").empty());
}

TEST_F(Expand, AbsolutePatternsGiveAbsolutePaths) {
  const std::string r = root().string();
  EXPECT_EQ(sorted(glob::glob(r + "/*.txt")), (Strings{r + "/e.txt", r + "/f.txt"}));
  EXPECT_EQ(sorted(glob::glob(r + "/*/c?.txt")), (Strings{r + "/c/c1.txt", r + "/c/c2.txt"}));
  // The listed path text begins with "/", so no name is hidden.
  EXPECT_EQ(sorted(glob::glob(r + "/.*")), (Strings{r + "/.b"}));
  EXPECT_EQ(texts(glob::glob(r + "/a")), (Strings{r + "/a"}));
  EXPECT_EQ(texts(glob::glob(r + "/c/")), (Strings{r + "/c/"}));
}

TEST_F(Expand, DoubleStarWithoutRecursionIsAStar) {
  file("t/x/b");
  file("t/x/y/b");
  file("t/b");
  EXPECT_EQ(texts(glob::glob("t/**/b")), (Strings{"t/x/b"}));
  EXPECT_EQ(sorted(glob::glob("t/**")), (Strings{"t/b", "t/x"}));
}

TEST_F(Expand, RecursiveDoubleStarSearchesEveryDirectoryBelow) {
  file("t/x/b");
  file("t/x/y/b");
  file("t/x/y/.h/b");
  file("t/b");
  // The directories below t, not t itself.
  EXPECT_EQ(sorted(glob::rglob("t/**/b")), (Strings{"t/x/b", "t/x/y/.h/b", "t/x/y/b"}));
  EXPECT_EQ(sorted(glob::rglob("t/**")),
            (Strings{"t/b", "t/x", "t/x/b", "t/x/y", "t/x/y/.h", "t/x/y/.h/b", "t/x/y/b"}));
}

TEST_F(Expand, RecursiveDoubleStarAloneSkipsTopLevelHiddenNames) {
  file(".top/deep");
  file("c/.hid2/z");
  const auto all = sorted(glob::rglob("**"));
  EXPECT_EQ(all, (Strings{"a", "c", "c/.hid", "c/.hid2", "c/.hid2/z", "c/c1.txt", "c/c2.txt", "d1", "d2", "d2/inner",
                          "e.txt", "f.txt", "sub", "sub/.hidden", "sub/x.txt"}));
}

TEST_F(Expand, RecursiveDirectoryPartListsDirectoriesOnly) {
  EXPECT_EQ(sorted(glob::rglob("d2/**/")), (Strings{"d2/inner/"}));
  EXPECT_EQ(sorted(glob::rglob("**/")), (Strings{"c/", "d1/", "d2/", "d2/inner/", "sub/"}));
}

TEST_F(Expand, RecursiveWalkIsPreOrder) {
  file("p/q/r/s.txt");
  file("p/q/t.txt");
  file("p/u/v.txt");
  const auto found = glob::rglob("p/**");
  ASSERT_EQ(sorted(found), (Strings{"p/q", "p/q/r", "p/q/r/s.txt", "p/q/t.txt", "p/u", "p/u/v.txt"}));
  // Every path comes after its parent, and a subtree is never interrupted by
  // a path outside it.
  for (std::size_t i = 0; i < found.size(); ++i) {
    const auto parent = found[i].parent_path();
    if (parent == "p") continue;
    std::size_t j = i;
    while (j > 0 && found[j - 1] != parent) {
      --j;
      const auto s = found[j].string();
      ASSERT_EQ(s.rfind(parent.string() + "/", 0), 0u) << found[i] << " separated from " << parent << " by " << s;
    }
    ASSERT_GT(j, 0u) << found[i] << " before its parent";
  }
}

TEST_F(Expand, ListsAreExpandedInOrderWithoutDeduplication) {
  EXPECT_EQ(texts(glob::glob(std::vector<std::string>{"a", "e.txt", "a"})), (Strings{"a", "e.txt", "a"}));
  const auto twice = glob::glob(std::vector<std::string>{"*.txt", "*.txt"});
  ASSERT_EQ(twice.size(), 4u);
  EXPECT_EQ(sorted({twice[0], twice[1]}), (Strings{"e.txt", "f.txt"}));
  EXPECT_EQ(sorted({twice[2], twice[3]}), (Strings{"e.txt", "f.txt"}));
  EXPECT_EQ(texts(glob::glob({"c/c1.txt", "missing", "a"})), (Strings{"c/c1.txt", "a"}));
  EXPECT_EQ(sorted(glob::rglob({"d2/**", "d1"})), (Strings{"d1", "d2/inner"}));
  EXPECT_EQ(texts(glob::rglob(std::vector<std::string>{"d2/**", "d2/**"})), (Strings{"d2/inner", "d2/inner"}));
  EXPECT_TRUE(glob::glob(std::vector<std::string>{}).empty());
}

TEST_F(Expand, TildeIsTheHomeDirectory) {
  EnvVar home("HOME", root().string());
  EXPECT_EQ(texts(glob::glob("~")), (Strings{root().string()}));
  EXPECT_EQ(sorted(glob::glob("~/c/*")),
            (Strings{root().string() + "/c/.hid", root().string() + "/c/c1.txt", root().string() + "/c/c2.txt"}));
  // Only the "~" is replaced: "~c" names HOME followed by "c".
  EnvVar parent("HOME", root().string() + "/");
  EXPECT_EQ(texts(glob::glob("~c/c1.txt")), (Strings{root().string() + "/c/c1.txt"}));
}

TEST_F(Expand, TildeWithoutHomeThrows) {
  EnvVar home("HOME", std::nullopt);
  for (const char* pattern : {"~", "~/x", "~/*"}) {
    try {
      glob::glob(pattern);
      ADD_FAILURE() << pattern << " did not throw";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "error: Unable to expand `~` - HOME environment variable not set.");
    }
  }
  // A "~" later in the pattern is an ordinary character.
  file("x~");
  EXPECT_EQ(texts(glob::glob("x~")), (Strings{"x~"}));
}

TEST_F(Expand, InvalidSetThrowsOnlyWhenANameIsTested) {
  dir("empty");
  EXPECT_TRUE(glob::glob("empty/[\\x\\x]").empty());
  EXPECT_TRUE(glob::glob("missing/[\\x\\x]").empty());
  EXPECT_THROW(glob::glob("[\\x\\x]"), std::regex_error);
  EXPECT_THROW(glob::glob("*/[a--c]"), std::regex_error);
}

TEST_F(Expand, SetWithLeadingClosingBracket) {
  file("]");
  file("x]");
  EXPECT_EQ(sorted(glob::glob("[]a]")), (Strings{"]", "a"}));
  EXPECT_EQ(sorted(glob::glob("[!]a]")), (Strings{"c"}));
}

TEST_F(Expand, NamesWithLineBreaks) {
  file("x\ny");
  file("\n");
  // "*" stops at the line break; a name that is one line break matches all.
  EXPECT_EQ(sorted(glob::glob("x*")), (Strings{"\n"}));
  EXPECT_EQ(sorted(glob::glob("*.txt")), (Strings{"\n", "e.txt", "f.txt"}));
  EXPECT_EQ(texts(glob::glob("x\ny")), (Strings{"x\ny"}));
  EXPECT_EQ(sorted(glob::glob("x\n[y]")), (Strings{"\n", "x\ny"}));
}

TEST_F(Expand, VeryLongNames) {
  const std::string name = std::string(250, 'n') + ".txt";
  file("long/" + name);
  EXPECT_EQ(texts(glob::glob("long/*.txt")), (Strings{"long/" + name}));
  EXPECT_EQ(texts(glob::glob("long/" + name)), (Strings{"long/" + name}));
  EXPECT_TRUE(glob::glob("long/" + std::string(300, 'n') + "*").empty());
  // A literal name too long for the file system is a status error.
  EXPECT_THROW(glob::glob("long/" + std::string(300, 'n')), std::filesystem::filesystem_error);
}

TEST_F(Expand, CurrentDirectoryIsReadAtEachCall) {
  EXPECT_EQ(sorted(glob::glob("*.txt")), (Strings{"e.txt", "f.txt"}));
  CurrentDir inside(root() / "c");
  EXPECT_EQ(sorted(glob::glob("*.txt")), (Strings{"c1.txt", "c2.txt"}));
}

}  // namespace
