// The file-system steps on their own: directory listings and the tree walk
// over symbolic links (cycles and dangling ones too) and permissions.
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
#include "glob/detail.h"
#include "glob/glob.h"

namespace {

using namespace glob_testing;
namespace detail = glob::detail;

class Walk : public GlobTree {
 protected:
  void SetUp() override {
    files({"top.txt", ".dot", "c/c1.txt", "c/.hid", "c/deep/d.txt", "other/o.txt"});
    dir("d2/inner/most");
  }
};

// A relative listing names each entry by the path of what it resolves to,
// relative to the current directory.
TEST_F(Walk, RelativeListingsNameLinksByTheirTargets) {
  link("lnk", "c");
  link("abs", root() / "other");
  link("c/sib", "../other/o.txt");
  link("c/dangling", "nowhere");
  link("d2/inner/most/far", root() / "c/deep");
  link("c/up", "..");
  EXPECT_EQ(sorted(detail::iter_directory("", true)), (Strings{"c", "c", "d2", "other", "other"}));
  EXPECT_EQ(sorted(detail::iter_directory("c", false)),
            (Strings{".", "c/.hid", "c/c1.txt", "c/dangling", "c/deep", "other/o.txt"}));
  // Above the current directory, the current directory itself is ".".
  fs::current_path(root() / "c");
  EXPECT_EQ(sorted(detail::iter_directory("..", false)),
            (Strings{".", ".", "../.dot", "../d2", "../other", "../other", "../top.txt"}));
  fs::current_path(root() / "d2/inner");
  EXPECT_EQ(texts(detail::iter_directory("most", false)), (Strings{"../../c/deep"}));
  EXPECT_EQ(
      sorted(detail::iter_directory("../../lnk", false)),
      (Strings{"../..", "../../c/.hid", "../../c/c1.txt", "../../c/dangling", "../../c/deep", "../../other/o.txt"}));
  EXPECT_EQ(sorted(detail::iter_directory("../../c/up/c", true)), (Strings{"../..", "../../c/deep"}));
  // The walk skips most/far, named ../../c/deep: a text beginning with "." is hidden.
  EXPECT_EQ(sorted(detail::rlistdir("", false)), (Strings{"most"}));
  EXPECT_EQ(sorted(detail::rlistdir("../inner", false)), (Strings{"most"}));
  fs::current_path(root());
  EXPECT_EQ(sorted(detail::rlistdir("lnk", false)),
            (Strings{"c/.hid", "c/c1.txt", "c/dangling", "c/deep", "c/deep/d.txt", "other/o.txt"}));
  // Under an absolute directory the link keeps its own name.
  EXPECT_EQ(sorted(detail::iter_directory(root(), true)), at_root({"@/abs", "@/c", "@/d2", "@/lnk", "@/other"}));
  // So a relative pattern matches the target's name, not the link's.
  EXPECT_TRUE(glob::glob("l*").empty());
  EXPECT_EQ(sorted(glob::glob("c*")), (Strings{"c", "c"}));
  EXPECT_EQ(sorted(glob::glob("lnk/*.txt")), (Strings{"lnk/c1.txt", "lnk/o.txt"}));  // o.txt: c/sib
}

TEST_F(Walk, CyclesEnd) {
  // A directory reached twice without a cycle is walked twice.
  link("d2/inner/c_again", root() / "c");
  EXPECT_EQ(sorted(glob::rglob(root().string() + "/d2/**/*.txt")),
            at_root({"@/d2/inner/c_again/c1.txt", "@/d2/inner/c_again/deep/d.txt"}));
  fs::remove(root() / "d2/inner/c_again");
  link("c/deep/back", "..");           // the walk's root
  link("c/deep/back2", root() / "c");  // an ancestor below the walk's root
  EXPECT_EQ(sorted(detail::rlistdir("", false)),
            (Strings{"c", "c", "c", "c/.hid", "c/c1.txt", "c/deep", "c/deep/d.txt", "d2", "d2/inner", "d2/inner/most",
                     "other", "other/o.txt", "top.txt"}));
  EXPECT_EQ(sorted(detail::rlistdir(root() / "c", false)),
            at_root({"@/c/.hid", "@/c/c1.txt", "@/c/deep", "@/c/deep/back", "@/c/deep/back2", "@/c/deep/d.txt"}));
  EXPECT_EQ(sorted(glob::rglob(root().string() + "/c/**/d.txt")), at_root({"@/c/deep/d.txt"}));
  // Two links into each other.
  link("ring/a/to_b", root() / "ring/b");
  link("ring/b/to_a", root() / "ring/a");
  EXPECT_EQ(
      sorted(detail::rlistdir(root() / "ring", false)),
      at_root({"@/ring/a", "@/ring/a/to_b", "@/ring/a/to_b/to_a", "@/ring/b", "@/ring/b/to_a", "@/ring/b/to_a/to_b"}));
  EXPECT_EQ(sorted(glob::rglob("ring/**")), (Strings{"ring/a", "ring/a", "ring/a", "ring/b", "ring/b", "ring/b"}));
}

TEST_F(Walk, DanglingAndSelfLoopingLinks) {
  link("dangling", "nowhere");
  // Listed, but not there for a literal pattern.
  EXPECT_EQ(sorted(glob::glob("d*")), (Strings{"d2", "dangling"}));
  EXPECT_TRUE(glob::glob("dangling").empty());
  EXPECT_TRUE(glob::glob("dangling/*").empty());
  EXPECT_EQ(sorted(glob::rglob(root().string() + "/dan*")), at_root({"@/dangling"}));
  const auto all = sorted(glob::rglob("**"));
  EXPECT_EQ(std::count(all.begin(), all.end(), "dangling"), 1);
  EXPECT_EQ(all.size(), 12u);
  link("loop/self", "self");
  // An absolute walk lists the link, then cannot read its status.
  EXPECT_THROW(glob::rglob(root().string() + "/loop/**"), fs::filesystem_error);
  EXPECT_THROW(glob::glob("loop/self"), fs::filesystem_error);
  // A relative listing fails to resolve the link and ends there.
  EXPECT_TRUE(glob::glob("loop/*").empty());
}

// Runs `checks` in a child process that has become the user "nobody" when the
// tests run as root (who ignores permissions), directly otherwise. Gives the
// number of failed checks, or -1 when privileges cannot be dropped.
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

TEST_F(Walk, PermissionsSeenByAnOrdinaryUser) {
  files({"locked/secret", "noexec/a"});
  using p = fs::perms;
  fs::permissions(root(), p::owner_all | p::group_read | p::group_exec | p::others_read | p::others_exec);
  // "locked" can be neither read nor searched; "noexec" can be read, but its
  // entries cannot be examined.
  fs::permissions(root() / "locked", p::owner_all);
  fs::permissions(root() / "noexec", p::owner_all | p::group_read | p::others_read);
  const std::string r = root().string();
  const int failures = run_unprivileged([&] {
    int failed = 0;
    auto check = [&failed](bool ok, const char* what) {
      if (!ok) std::cerr << "failed: " << what << std::endl;  // gtest cannot report from the child
      failed += !ok;
    };
    check(glob::glob("locked/*").empty() && glob::glob(r + "/locked/*").empty(), "locked/* is empty");
    check(sorted(glob::rglob("**")) == Strings{"c", "c/.hid", "c/c1.txt", "c/deep", "c/deep/d.txt", "d2", "d2/inner",
                                               "d2/inner/most", "locked", "noexec", "other", "other/o.txt", "top.txt"},
          "** lists nothing inside locked or noexec");
    // A relative listing resolves its entries, which fails and ends it; an
    // absolute one only names them.
    check(detail::iter_directory("noexec", false).empty(), "relative noexec lists nothing");
    check(glob::glob("noexec/*").empty(), "relative noexec/* is empty");
    check(texts(glob::glob(r + "/noexec/*")) == Strings{r + "/noexec/a"}, "absolute noexec/* names a");
    try {
      (void)glob::glob("noexec/a");
      check(false, "noexec/a throws");
    } catch (const fs::filesystem_error&) {
    }
    return failed;
  });
  if (failures < 0) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(failures, 0) << "see the failed checks on standard error";
}

}  // namespace
