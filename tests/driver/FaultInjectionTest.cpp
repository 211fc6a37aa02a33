// Fault injection through the real executable: an updater killed while it
// unpacks a large entry, a write that fails for lack of file space, and a
// destination changed under it. Every target file stays either its old
// version or its new complete one.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/Helpers.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace fs = std::filesystem;
namespace ts = testing_support;

namespace {

// Text of `size` bytes, different for each `tag`, compressible like a program's data.
std::string payload(size_t size, const std::string& tag) {
  std::string data;
  for (size_t i = 0; data.size() < size; ++i) data += tag + " block " + std::to_string(i * 7919 % 100003) + "\n";
  data.resize(size);
  return data;
}

// An installed tree (old versions) and a package that unpacks new versions
// over it, the manifest left out.
class FaultInjection : public ::testing::Test {
 protected:
  // A fresh app/ holding only the old versions.
  void install() const {
    fs::remove_all(app);
    for (const auto& [name, data] : oldFiles) dir.write("app/" + name, data);
  }
  void prepare(const std::map<std::string, std::string>& installed,
               const std::vector<std::pair<std::string, std::string>>& packaged, uint16_t method) {
    oldFiles = installed;
    install();
    ts::ZipBuilder builder;
    builder.add("manifest.json", R"({"actions":[[{"type":"unzip","description":"unpack","source":"@update.zip",)"
                                 R"("destination":")" +
                                     app.string() + R"(","include":[],"exclude":["manifest.json"]}]]})");
    for (const auto& [name, data] : packaged) builder.add(name, data, method);
    builder.write(package);
  }

  ts::TempDir dir;
  fs::path app = dir / "app";
  fs::path package = dir / "update.zip";
  std::map<std::string, std::string> oldFiles;
};

// SIGKILL leaves the temporary file for the next run to remove; the signals
// that can be handled end the run as a failure, temporary file removed.
TEST_F(FaultInjection, SignalledWhileUnpackingLargeEntryLeavesOldOrNewFilesAndNoTemporary) {
  const std::string newBig = payload(32u << 20, "new");
  const std::vector<std::string> packaged = {"big.bin", "first.txt", "last.txt"};  // sorted
  prepare({{"first.txt", "old first\n"}, {"big.bin", "old big\n"}, {"last.txt", "old last\n"}},
          {{"first.txt", "new first\n"}, {"big.bin", newBig}, {"last.txt", "new last\n"}}, 8);
  for (int signal : {SIGKILL, SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    install();
    ts::BackgroundUpdater updater({package.string()}, dir / "out.txt");
    ASSERT_TRUE(updater.waitForOutput("Unzip file: big.bin")) << updater.output();
    // Signalled once the temporary file of big.bin is partly written.
    bool caughtMidWrite = updater.waitUntil([&] {
      std::error_code ec;
      for (const auto& item : fs::directory_iterator(app, ec)) {
        uintmax_t size = fs::file_size(item.path(), ec);
        if (!ec && item.path().filename().string().rfind(".updater-", 0) == 0 && size > 0) return true;
      }
      return false;
    });
    updater.signal(signal);
    const int status = updater.wait();
    EXPECT_TRUE(caughtMidWrite) << "the run ended before a partial file was seen";
    const std::string big = ts::readFile(app / "big.bin");
    EXPECT_TRUE(big == "old big\n" || big == newBig) << big.size() << " bytes: neither old nor new";
    EXPECT_EQ("new first\n", ts::readFile(app / "first.txt"));
    EXPECT_EQ("old last\n", ts::readFile(app / "last.txt"));
    if (signal == SIGKILL) {
      EXPECT_EQ(137, status);
      // The entry being written, and those decoded ahead of it, leave their
      // temporary files.
      std::vector<std::string> names = ts::listing(app);
      std::set<std::string> left(names.begin(), names.end());
      for (const std::string& name : packaged) EXPECT_EQ(1u, left.erase(name)) << name;
      EXPECT_FALSE(left.empty());
      for (const std::string& name : left) EXPECT_EQ(0u, name.rfind(".updater-", 0)) << name;
      // The next run removes what the killed one left.
      EXPECT_EQ(0, ts::runUpdater({package.string()}).status);
      EXPECT_EQ("new last\n", ts::readFile(app / "last.txt"));
    } else {
      EXPECT_EQ(2, status);
      const std::string out = updater.output();
      const std::string last = "\nUpdate failed: Interrupted by SIG" + std::string(sigabbrev_np(signal)) + "\n";
      EXPECT_EQ(last, out.substr(out.size() - std::min(out.size(), last.size()))) << out;
    }
    EXPECT_EQ(packaged, ts::listing(app, true));
  }
}

TEST_F(FaultInjection, WriteFailureEndsRunWithStatus2AndKeepsOldFile) {
  const size_t bigSize = 1u << 20;
  prepare({{"big.bin", "old big\n"}, {"last.txt", "old last\n"}},
          {{"first.txt", payload(100, "first")}, {"big.bin", payload(bigSize, "new")}, {"last.txt", "new last\n"}}, 8);

  ts::RunOptions options;
  options.fileSizeLimit = 256 << 10;
  auto result = ts::runUpdater({package.string()}, options);

  const std::string expectedStart =
      ts::header(package.string()) + "\nPerform action: unpack\nUnzip archive @update.zip to " + app.string() +
      "\nOpen zip file " + package.string() + "\nEntries count 4\nSkip unzip file (in exclude list)manifest.json\n" +
      "Unzip file: first.txt, size:100, to: " + ts::q(app / "first.txt") +
      "\nUnzip file: big.bin, size:" + std::to_string(bigSize) + ", to: " + ts::q(app / "big.bin") +
      "\nUpdate failed: ";
  EXPECT_EQ(2, result.status);
  ASSERT_EQ(expectedStart, result.out.substr(0, expectedStart.size())) << result.out;
  // One line ends the run, and it gives the reason of the failed write.
  std::string failure = result.out.substr(expectedStart.size());
  EXPECT_NE(std::string::npos, failure.find("File too large")) << failure;
  EXPECT_EQ(failure.size() - 1, failure.find('\n')) << failure;
  EXPECT_EQ("", result.err);

  EXPECT_EQ(payload(100, "first"), ts::readFile(app / "first.txt"));
  EXPECT_EQ("old big\n", ts::readFile(app / "big.bin"));
  EXPECT_EQ("old last\n", ts::readFile(app / "last.txt"));
  // No temporary file is left behind.
  EXPECT_EQ((std::vector<std::string>{"big.bin", "first.txt", "last.txt"}), ts::listing(app, true));
}

// A directory of the destination swapped for a link to another place while
// the unzip action runs (the updater held up by its unread output): the
// entries after the swap are refused, nothing lands in that other place.
TEST(FaultInjectionRace, DirectorySwappedForALinkMidRunLetsNothingOut) {
  ts::TempDir dir;
  const fs::path app = dir / "app", outside = dir.mkdir("outside");
  ts::ZipBuilder builder;
  builder.add("manifest.json", R"({"actions":[[{"type":"unzip","description":"unpack","source":"@update.zip",)"
                               R"("destination":")" +
                                   app.string() +
                                   R"(","exclude":[],)"
                                   R"("include":["sub/early","sub/late","sub/new/late2"]}]]})");
  builder.add("sub/early", "1");
  for (int i = 0; i < 3000; ++i) builder.add("filler-" + std::to_string(i) + std::string(40, 'f'), "");
  builder.add("sub/late", "2").add("sub/new/late2", "3");
  builder.write(dir / "update.zip");

  ts::BackgroundUpdater updater({(dir / "update.zip").string()}, {});
  ASSERT_TRUE(updater.waitUntil([&] { return updater.outputBlocked() && fs::exists(app / "sub/early"); }));
  fs::rename(app / "sub", app / "sub.moved");
  fs::create_directory_symlink(outside, app / "sub");
  const std::string out = updater.readPipe();
  EXPECT_EQ(0, updater.wait()) << out;
  EXPECT_TRUE(fs::is_empty(outside));
  const std::string refused =
      "Skip unzip file (outside destination)sub/late\nSkip unzip file (outside destination)sub/new/late2\n";
  EXPECT_EQ(refused, out.substr(out.size() - std::min(out.size(), refused.size()))) << out.substr(out.size() - 300);
}

}  // namespace
