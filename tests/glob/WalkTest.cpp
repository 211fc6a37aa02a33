// The file-system steps on their own: directory listings and the tree walk
// over symbolic links (cycles and dangling ones too) and permissions, checked
// against the plain restatement of the listing rules in PlainGlob.h.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "GlobTree.h"
#include "PlainGlob.h"
#include "glob/detail.h"
#include "glob/glob.h"

namespace {

using namespace glob_testing;
using Strings = std::vector<std::string>;
namespace detail = glob::detail;

class Walk : public GlobTree {
 protected:
  void SetUp() override {
    for (const char* f : {"top.txt", ".dot", "c/c1.txt", "c/.hid", "c/deep/d.txt", "other/o.txt"}) file(f);
    dir("d2/inner/most");
  }
};

TEST_F(Walk, RelativeListingsAgreeWithResolvingEachEntry) {
  // Everything below "w", so that climbing out of it stays inside the
  // temporary directory, which holds nothing else.
  for (const char* f : {"w/top.txt", "w/c/c1.txt", "w/c/deep/d.txt", "w/other/o.txt"}) file(f);
  dir("w/d2/inner/most");
  link("w/lnk", "c");
  link("w/abs", root() / "w/other");
  link("w/c/up", "..");
  link("w/c/upup", "../..");
  link("w/c/sib", "../other/o.txt");
  link("w/c/dangling", "nowhere");
  link("w/d2/inner/most/far", root() / "w/c/deep");
  const std::vector<fs::path> cwds = {root() / "w", root() / "w/c", root() / "w/d2/inner", root() / "w/d2/inner/most"};
  const std::vector<std::string> dirnames = {
      "",     "c",    "lnk", "abs",      "c/up",         "c/upup", "..",       "c/../d2",        "../c",         "up",
      "deep", "most", "./c", "most/far", "../../c/up/c", "../..",  "c/./deep", "../../lnk/deep", "../inner/most"};
  for (const auto& cwd : cwds) {
    CurrentDir in(cwd);
    for (const auto& dirname : dirnames) {
      if (fs::weakly_canonical(dirname.empty() ? cwd : cwd / dirname) == root().parent_path()) continue;
      for (bool dironly : {false, true}) {
        EXPECT_EQ(texts(detail::iter_directory(dirname, dironly)), texts(plain::iter_directory(dirname, dironly)))
            << "cwd " << cwd << ", dirname " << dirname << ", dironly " << dironly;
      }
    }
  }
}

TEST_F(Walk, LinksAreListedUnderTheirTargetsRelativePath) {
  link("lnk", "c");
  link("c/up", "..");
  EXPECT_EQ(sorted(detail::iter_directory("", true)), (Strings{"c", "c", "d2", "other"}));
  EXPECT_EQ(sorted(detail::iter_directory("c", false)), (Strings{".", "c/.hid", "c/c1.txt", "c/deep"}));
  // Under an absolute directory the link keeps its own name.
  EXPECT_EQ(sorted(detail::iter_directory(root(), true)),
            (Strings{(root() / "c").string(), (root() / "d2").string(), (root() / "lnk").string(),
                     (root() / "other").string()}));
  // So a relative pattern matches the target's name, not the link's.
  EXPECT_TRUE(glob::glob("l*").empty());
  EXPECT_EQ(sorted(glob::glob("c*")), (Strings{"c", "c"}));
}

TEST_F(Walk, RlistdirAgreesWithThePlainWalkOnTreesWithoutCycles) {
  link("lnk", "c");
  link("d2/inner/to_other", root() / "other");
  link("d2/file_link", "../top.txt");
  link("d2/dangling", "nowhere");
  for (const fs::path& cwd : {root(), root() / "d2"}) {
    CurrentDir in(cwd);
    for (const std::string dirname : {"", "d2", "../d2", "c", "lnk", "inner", "../c"}) {
      for (bool dironly : {false, true}) {
        EXPECT_EQ(texts(detail::rlistdir(dirname, dironly)), texts(plain::rlistdir(dirname, dironly)))
            << "cwd " << cwd << ", dirname " << dirname << ", dironly " << dironly;
      }
    }
    for (bool dironly : {false, true}) {
      EXPECT_EQ(texts(detail::rlistdir(root(), dironly)), texts(plain::rlistdir(root(), dironly)));
    }
  }
}

TEST_F(Walk, LinkBackToAnAncestorIsListedButNotEntered) {
  link("c/deep/back", "..");           // the walk's root below
  link("c/deep/back2", root() / "c");  // an ancestor below the root
  const auto relative = detail::rlistdir("", false);
  // Relative listings name both links by their target, "c".
  EXPECT_EQ(sorted(relative), (Strings{"c", "c", "c", "c/.hid", "c/c1.txt", "c/deep", "c/deep/d.txt", "d2", "d2/inner",
                                       "d2/inner/most", "other", "other/o.txt", "top.txt"}));
  const std::string r = root().string();
  EXPECT_EQ(sorted(detail::rlistdir(root() / "c", false)),
            (Strings{r + "/c/.hid", r + "/c/c1.txt", r + "/c/deep", r + "/c/deep/back", r + "/c/deep/back2",
                     r + "/c/deep/d.txt"}));
  EXPECT_EQ(sorted(glob::rglob(r + "/c/**/d.txt")), (Strings{r + "/c/deep/d.txt"}));
}

TEST_F(Walk, CycleThroughTwoLinksEnds) {
  link("ring/a/to_b", root() / "ring/b");
  link("ring/b/to_a", root() / "ring/a");
  const std::string r = root().string() + "/ring";
  EXPECT_EQ(sorted(detail::rlistdir(root() / "ring", false)),
            (Strings{r + "/a", r + "/a/to_b", r + "/a/to_b/to_a", r + "/b", r + "/b/to_a", r + "/b/to_a/to_b"}));
  EXPECT_EQ(sorted(glob::rglob("ring/**")), (Strings{"ring/a", "ring/a", "ring/a", "ring/b", "ring/b", "ring/b"}));
  // A directory reached twice without a cycle is walked twice.
  link("d2/inner/c_again", root() / "c");
  const std::string d = root().string() + "/d2/inner";
  EXPECT_EQ(sorted(detail::rlistdir(root() / "d2", false)),
            (Strings{d, d + "/c_again", d + "/c_again/.hid", d + "/c_again/c1.txt", d + "/c_again/deep",
                     d + "/c_again/deep/d.txt", d + "/most"}));
}

TEST_F(Walk, DanglingLinks) {
  link("dangling", "nowhere");
  // The link is listed but does not exist for a literal pattern.
  EXPECT_EQ(sorted(glob::glob("d*")), (Strings{"d2", "dangling"}));
  EXPECT_TRUE(glob::glob("dangling").empty());
  EXPECT_TRUE(glob::glob("dangling/*").empty());
  EXPECT_EQ(sorted(glob::rglob(root().string() + "/dan*")), (Strings{(root() / "dangling").string()}));
  const auto all = sorted(glob::rglob("**"));
  EXPECT_EQ(std::count(all.begin(), all.end(), "dangling"), 1);
  EXPECT_EQ(all.size(), 12u);
}

TEST_F(Walk, SelfLoopingLinkStatusErrorLeavesTheLibrary) {
  link("loop/self", "self");
  // An absolute walk lists the link, then cannot read its status.
  EXPECT_THROW(glob::rglob(root().string() + "/loop/**"), fs::filesystem_error);
  EXPECT_THROW(glob::glob("loop/self"), fs::filesystem_error);
  // A relative listing fails to resolve the link and ends there.
  EXPECT_TRUE(glob::glob("loop/*").empty());
  EXPECT_TRUE(detail::iter_directory("loop", false).empty());
}

// Runs `checks` without the privileges that let root ignore permissions: in
// a child process that has become the user "nobody" when the tests run as
// root, directly otherwise. Returns the number of failed checks, or -1 when
// privileges cannot be dropped.
int run_unprivileged(const std::function<int()>& checks) {
  if (::geteuid() != 0) return checks();
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
    ::_exit(checks());
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

// Counts a failed check, saying which, in a process where gtest cannot.
int check(bool ok, const char* what) {
  if (!ok) std::cerr << "failed: " << what << std::endl;
  return ok ? 0 : 1;
}

TEST_F(Walk, PermissionsSeenByAnOrdinaryUser) {
  file("locked/secret");
  file("noexec/a");
  fs::permissions(root(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  // Nobody may neither read nor search "locked"; "noexec" may be read but its
  // entries cannot be examined.
  fs::permissions(root() / "locked", fs::perms::owner_all);
  fs::permissions(root() / "noexec", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  const std::string r = root().string();
  const int failures = run_unprivileged([&] {
    int failed = 0;
    failed += check(detail::iter_directory("locked", false).empty(), "locked lists nothing");
    failed += check(glob::glob("locked/*").empty(), "locked/* is empty");
    failed += check(glob::glob(r + "/locked/*").empty(), "absolute locked/* is empty");
    failed += check(glob::rglob("locked/**").empty(), "locked/** is empty");
    const auto all = glob::rglob("**");
    failed += check(std::count(all.begin(), all.end(), fs::path("locked")) == 1 &&
                        std::count(all.begin(), all.end(), fs::path("locked/secret")) == 0,
                    "** lists locked but nothing inside");
    // A relative listing resolves its entries, which fails and ends it; an
    // absolute one only names them.
    failed += check(texts(detail::iter_directory("noexec", false)) == texts(plain::iter_directory("noexec", false)),
                    "noexec agrees with the plain listing");
    failed += check(detail::iter_directory("noexec", false).empty(), "relative noexec lists nothing");
    failed += check(texts(glob::glob(r + "/noexec/*")) == Strings{r + "/noexec/a"}, "absolute noexec/* names a");
    failed += check(glob::glob("noexec/*").empty(), "relative noexec/* is empty");
    try {
      (void)glob::glob("noexec/a");
      failed += check(false, "noexec/a throws");
    } catch (const fs::filesystem_error&) {
    }
    return failed;
  });
  if (failures < 0) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(failures, 0) << "see the failed checks on standard error";
}

}  // namespace
