// The file-system steps on their own: directory listings and the tree walk
// over symbolic links (cycles and dangling ones too) and permissions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "GlobTree.h"
#include "glob/detail/listing.h"
#include "glob/detail/tree_walk.h"
#include "glob/glob.h"
#include "support/Process.h"

namespace {

using namespace glob_testing;

// The internal steps, each with a context of its own as an expansion has.
namespace detail {
std::vector<fs::path> iter_directory(const fs::path& dirname, bool dironly) {
  glob::detail::expansion_context context;
  return glob::detail::iter_directory(context, dirname, dironly);
}
std::vector<fs::path> rlistdir(const fs::path& dirname, bool dironly) {
  glob::detail::expansion_context context;
  return glob::detail::rlistdir(context, dirname, dironly);
}
}  // namespace detail

class Walk : public GlobTree {
 protected:
  void SetUp() override {
    files({"top.txt", ".dot", "c/c1.txt", "c/.hid", "c/deep/d.txt", "other/o.txt"});
    dir("d2/inner/most");
  }
};

// A relative listing names each entry by the path of what it resolves to,
// relative to the current directory, except a symbolic link, which keeps its
// own name in the listed directory; whether it is hidden still follows what
// it resolves to.
TEST_F(Walk, RelativeListingsNameLinksByTheirOwnNames) {
  link("lnk", "c");
  link("abs", root() / "other");
  link("c/sib", "../other/o.txt");
  link("c/dot", "../.dot");
  files({"c/o.txt"});
  EXPECT_EQ(sorted(detail::iter_directory("", true)), (Strings{"abs", "c", "d2", "lnk", "other"}));
  // Above the current directory, the current directory itself is ".".
  fs::current_path(root() / "c");
  EXPECT_EQ(sorted(detail::iter_directory("..", false)),
            (Strings{".", "../.dot", "../abs", "../d2", "../lnk", "../other", "../top.txt"}));
  fs::current_path(root());
  EXPECT_EQ(sorted(detail::iter_directory(root(), true)), at_root({"@/abs", "@/c", "@/d2", "@/lnk", "@/other"}));
  EXPECT_EQ(sorted(glob::glob("l*")), (Strings{"lnk"}));
  EXPECT_EQ(sorted(glob::glob("lnk/*")), (Strings{"lnk/.hid", "lnk/c1.txt", "lnk/deep", "lnk/o.txt", "lnk/sib"}));
}

TEST_F(Walk, CyclesEnd) {
  link("c/deep/back", "..");           // the walk's root
  link("c/deep/back2", root() / "c");  // an ancestor below the walk's root
  EXPECT_EQ(sorted(detail::rlistdir("", false)),
            (Strings{"c", "c/.hid", "c/c1.txt", "c/deep", "c/deep/back", "c/deep/back2", "c/deep/d.txt", "d2",
                     "d2/inner", "d2/inner/most", "other", "other/o.txt", "top.txt"}));
  EXPECT_EQ(sorted(detail::rlistdir(root() / "c", false)),
            at_root({"@/c/.hid", "@/c/c1.txt", "@/c/deep", "@/c/deep/back", "@/c/deep/back2", "@/c/deep/d.txt"}));
  // Two links into each other.
  link("ring/a/to_b", root() / "ring/b");
  link("ring/b/to_a", root() / "ring/a");
  EXPECT_EQ(
      sorted(detail::rlistdir(root() / "ring", false)),
      at_root({"@/ring/a", "@/ring/a/to_b", "@/ring/a/to_b/to_a", "@/ring/b", "@/ring/b/to_a", "@/ring/b/to_a/to_b"}));
  // Entries below a link are named after the directory they are in.
  EXPECT_EQ(sorted(glob::rglob("ring/**")),
            (Strings{"ring/a", "ring/a/to_b", "ring/a/to_b", "ring/b", "ring/b/to_a", "ring/b/to_a"}));
}

TEST_F(Walk, DanglingAndSelfLoopingLinks) {
  link("dangling", "nowhere");
  // Listed, but not there for a literal pattern.
  EXPECT_EQ(sorted(glob::glob("d*")), (Strings{"d2", "dangling"}));
  EXPECT_TRUE(glob::glob("dangling").empty());
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

// A relative walk lists an entry while its resolved path is shorter than the
// system's path limit and ends the listing at the first that is not; an
// absolute walk fails at the first directory it cannot name.
TEST_F(Walk, ChainsDeeperThanThePathLimit) {
  // Long names above the chain leave it a few hundred levels to the limit.
  fs::path stem;
  for (int level = 0; level < 14; ++level) stem /= std::string(250, 'n');
  fs::create_directories(stem);
  fs::current_path(stem);
  int fd = ::open(".", O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < 400 && fd >= 0; ++level) {
    const int next = ::mkdirat(fd, "d", 0755) == 0 ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY) : -1;
    ::close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0);
  ::close(fd);
  // d/d/... of k levels resolves to the current directory, a slash and 2k - 1 bytes.
  const std::size_t deepest = (PATH_MAX - 1 - fs::current_path().native().size()) / 2;
  const auto found = glob::rglob("d/**");
  EXPECT_EQ(found.size(), deepest - 1);
  EXPECT_EQ(found.empty() ? 0 : found.back().native().size(), 2 * deepest - 1);
  EXPECT_THROW(glob::rglob(fs::current_path().string() + "/d/**"), fs::filesystem_error);
  // Taken apart from the top, where every path stays short.
  while (fs::exists("d/d")) {
    fs::rename("d/d", "e");
    fs::remove("d");
    fs::rename("e", "d");
  }
  fs::remove("d");
}

// As root (who ignores permissions) the checks run in a child process that
// has become the user "nobody"; its exit status carries the failed checks.
TEST_F(Walk, PermissionsSeenByAnOrdinaryUser) {
  files({"locked/secret", "noexec/a"});
  using p = fs::perms;
  fs::permissions(root(), p::owner_all | p::group_read | p::group_exec | p::others_read | p::others_exec);
  // "locked" can be neither read nor searched; "noexec" can be read, but its
  // entries cannot be examined.
  fs::permissions(root() / "locked", p::owner_all);
  fs::permissions(root() / "noexec", p::owner_all | p::group_read | p::others_read);
  const std::string r = root().string();
  // Each failed check sets its bit of the result.
  auto checks = [&] {
    int failed = !(glob::glob("locked/*").empty() && glob::glob(r + "/locked/*").empty());
    failed |=
        (sorted(glob::rglob("**")) != Strings{"c", "c/.hid", "c/c1.txt", "c/deep", "c/deep/d.txt", "d2", "d2/inner",
                                              "d2/inner/most", "locked", "noexec", "other", "other/o.txt", "top.txt"})
        << 1;
    // A relative listing resolves its entries, which fails and ends it; an
    // absolute one only names them.
    failed |= !glob::glob("noexec/*").empty() << 2;
    failed |= (texts(glob::glob(r + "/noexec/*")) != Strings{r + "/noexec/a"}) << 3;
    try {
      (void)glob::glob("noexec/a");
      failed |= 1 << 4;
    } catch (const fs::filesystem_error&) {
    }
    return failed;
  };
  const int failed = testing_support::asOrdinaryUser(checks);
  if (failed == 255) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(failed, 0) << "bits of the failed checks";
}

}  // namespace
