// Fault injection through the real executable: an updater killed while it
// unpacks a large entry, a write that fails for lack of file space, and a
// destination changed under it. Every target file stays either its old
// version or its new complete one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
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

// The updater running in the background with its output in a file, so a
// test can act on the file system at a chosen point of the run. With
// `piped`, standard output goes to a pipe left unread until readPipe(), so
// that the updater blocks once it has filled the pipe.
class RunningUpdater {
 public:
  RunningUpdater(const std::string& package, const fs::path& logDirectory, bool piped = false)
      : _outFile(logDirectory / "stdout.txt") {
    int out[2] = {-1, -1};
    if (piped ? ::pipe2(out, O_CLOEXEC) != 0
              : (out[1] = ::open(_outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) < 0)
      throw std::runtime_error("no output for the updater");
    _child.emplace(ts::updaterPath(), std::vector<std::string>{package}, out[1]);
    ::close(out[1]);
    _pipe = out[0];
  }
  ~RunningUpdater() {
    if (_pipe >= 0) ::close(_pipe);
  }
  RunningUpdater(const RunningUpdater&) = delete;
  RunningUpdater& operator=(const RunningUpdater&) = delete;

  // Polls until `condition` holds or the updater has ended; true when it held.
  template <class Condition>
  bool waitUntil(Condition condition) {
    return ts::waitUntil([&] { return condition() || _child->poll(); }) && condition();
  }
  bool waitForOutput(const std::string& text) {
    return waitUntil([&] { return output().find(text) != std::string::npos; });
  }
  void signal(int number) { _child->signal(number); }
  int wait() { return _child->wait(); }
  // Whether the unread pipe is full to its last page, where the updater
  // blocks on its next lines.
  bool outputBlocked() const {
    int queued = 0;
    return ::ioctl(_pipe, FIONREAD, &queued) == 0 && queued > ::fcntl(_pipe, F_GETPIPE_SZ) - 4096;
  }
  // Everything written to the pipe, read until the updater closes it.
  std::string readPipe() {
    std::string out;
    char buffer[65536];
    for (ssize_t n; (n = ::read(_pipe, buffer, sizeof buffer)) != 0;) {
      if (n > 0) out.append(buffer, static_cast<size_t>(n));
      if (n < 0 && errno != EINTR) break;
    }
    return out;
  }
  std::string output() const { return ts::readFile(_outFile); }

 private:
  fs::path _outFile;
  std::optional<ts::Child> _child;
  int _pipe = -1;
};

// An installed tree (old versions) and a package that unpacks new versions
// over it, the manifest left out.
class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(app); }

  void prepare(const std::map<std::string, std::string>& installed,
               const std::vector<std::pair<std::string, std::string>>& packaged, uint16_t method) {
    for (const auto& [name, data] : installed) std::ofstream(app / name, std::ios::binary) << data;
    oldFiles = installed;
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
    fs::remove_all(app);
    fs::create_directories(app);
    for (const auto& [name, data] : oldFiles) std::ofstream(app / name, std::ios::binary) << data;

    RunningUpdater updater(package.string(), dir.path());
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

  RunningUpdater updater((dir / "update.zip").string(), dir.path(), true);
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
