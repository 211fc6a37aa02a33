// The unzip action with several decoding threads gives exactly what one
// thread gives: the whole output, the exit status and the tree left behind
// (no temporary file either), also when an entry in the middle is damaged
// and when an earlier entry redirects the directory of later ones.
#include <cstdlib>
#include <functional>

#include "actions/ActionTestSupport.h"

using namespace action_testing;

namespace {

struct Outcome {
  std::string out;
  int status;
  std::map<std::string, std::string> tree;
};

// Unpacks the archive `bytes` into "out" of a fresh directory set up by
// `prepare`, with UPDATER_THREADS=`threads`; paths in the output read "DIR".
Outcome unpack(const char* threads, const std::string& bytes, const std::function<void(const TempDir&)>& prepare) {
  TempDir dir;
  prepare(dir);
  dir.write("payload.zip", bytes);
  ::setenv("UPDATER_THREADS", threads, 1);
  RunResult result =
      runActions(dir, R"({"type":"unzip","source":"payload.zip","destination":"out","exclude":"a/skip"})");
  ::unsetenv("UPDATER_THREADS");
  return {replaced(result.out, dir.path().string(), "DIR"), result.status, snapshot(dir / "out")};
}

ZipBuilder bundle() {
  ZipBuilder zip;
  zip.addDirectory("a/");
  const uint16_t methods[] = {0, 8, 12, 14};
  for (int i = 0; i < 24; ++i) {
    // Some entries span several copy blocks.
    const std::string data(i % 5 == 0 ? 300000 + i : 1000 * i + 1, static_cast<char>('a' + i));
    zip.add("a/f" + std::to_string(i), data, methods[i % 4]).add("b/c/g" + std::to_string(i), data.substr(i), 8);
  }
  testing_support::ZipEntrySpec secret = testing_support::makeEntry("a/secret", "hidden", 8);
  secret.password = "pw";
  return zip.add(secret).add("a/skip", "skipped");
}

void nothing(const TempDir&) {}

}  // namespace

TEST(UnzipParallel, SeveralThreadsLeaveWhatOneLeaves) {
  ZipBuilder whole = bundle();
  std::string damaged = whole.bytes();
  damaged[whole.centralHeaderOffset(11) + 16] ^= 1;  // CRC-32 of a/f5

  // A link that an earlier entry replaces sends the later files elsewhere.
  testing_support::ZipEntrySpec link = testing_support::makeEntry("d", "real2");
  link.externalAttributes = 0120777u << 16;
  ZipBuilder redirect;
  redirect.add(link);
  for (int i = 0; i < 12; ++i) redirect.add("d/f" + std::to_string(i), std::string(5000, 'x'), 8);
  auto twoDirectories = [](const TempDir& dir) {
    dir.mkdir("out/real1");
    dir.mkdir("out/real2");
    fs::create_directory_symlink("real1", dir / "out/d");
  };

  struct Case {
    const char* what;
    std::string archive;
    std::function<void(const TempDir&)> prepare;
    int status;
    std::string lastLine;
  };
  const Case cases[] = {
      {"every method", whole.bytes(), nothing, 0, "Skip unzip file (in exclude list)a/skip\n"},
      {"damaged entry", damaged, nothing, 2, "Update failed: Archive entry a/f5 is corrupt: CRC-32 mismatch\n"},
      {"redirecting link", redirect.bytes(), twoDirectories, 0, "size:5000, to: \"out/d/f11\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome one = unpack("1", c.archive, c.prepare);
    const Outcome several = unpack("4", c.archive, c.prepare);
    EXPECT_EQ(several.out, one.out);
    EXPECT_EQ(several.tree, one.tree);
    EXPECT_EQ(one.status, c.status);
    EXPECT_EQ(several.status, c.status);
    ASSERT_GE(one.out.size(), c.lastLine.size());
    EXPECT_EQ(one.out.substr(one.out.size() - c.lastLine.size()), c.lastLine);
  }
}
