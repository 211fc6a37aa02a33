// Fault injection through the real executable: an updater killed while it
// unpacks a large entry, writes that fail for lack of file space, and a
// package replaced on disk while the updater runs. Whatever happens, every
// target file is either its old version or its new complete version, and
// the updater never crashes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace fs = std::filesystem;
using testing_support::header;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::ZipBuilder;
using Clock = std::chrono::steady_clock;

namespace {

// Text of `size` bytes, different for each `tag`, compressible like a program's data.
std::string payload(size_t size, const std::string& tag) {
  std::string data;
  data.reserve(size + 64);
  for (size_t i = 0; data.size() < size; ++i) data += tag + " block " + std::to_string(i * 7919 % 100003) + "\n";
  data.resize(size);
  return data;
}

std::string quoted(const fs::path& path) {
  std::ostringstream out;
  out << std::quoted(path.string());
  return out.str();
}

// A manifest whose only action unpacks the package itself into `destination`,
// leaving the manifest out.
std::string unzipManifest(const fs::path& destination, const std::string& before = "") {
  return R"({"actions":[[)" + before +
         R"({"type":"unzip","description":"unpack","source":"@update.zip","destination":")" + destination.string() +
         R"(","include":[],"exclude":["manifest.json"]}]]})";
}

std::set<std::string> namesIn(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(directory)) names.insert(item.path().filename().string());
  return names;
}

// The updater running in the background, its output going to files, so a
// test can act on the file system at a chosen point of the run.
class RunningUpdater {
 public:
  RunningUpdater(const std::vector<std::string>& args, const fs::path& logDirectory)
      : _outFile(logDirectory / ("stdout" + std::to_string(++_runs) + ".txt")),
        _errFile(logDirectory / ("stderr" + std::to_string(_runs) + ".txt")) {
    _pid = ::fork();
    if (_pid == 0) {
      int in = ::open("/dev/null", O_RDONLY);
      int out = ::open(_outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = ::open(_errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || out < 0 || err < 0) ::_exit(126);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv{const_cast<char*>(UPDATER_EXE)};
      for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(UPDATER_EXE, argv.data());
      ::_exit(127);
    }
  }
  ~RunningUpdater() {
    if (_pid > 0 && !_finished) {
      ::kill(_pid, SIGKILL);
      wait();
    }
  }
  RunningUpdater(const RunningUpdater&) = delete;
  RunningUpdater& operator=(const RunningUpdater&) = delete;

  // Polls until `condition` holds or the updater has ended; true when it held.
  template <class Condition>
  bool waitUntil(Condition condition, double seconds = 60) {
    auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    while (Clock::now() < deadline) {
      if (condition()) return true;
      if (hasEnded()) return condition();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
  }
  bool waitForOutput(const std::string& text, double seconds = 60) {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, seconds);
  }

  void kill() { ::kill(_pid, SIGKILL); }

  // Exit status (0-255), or 128 + signal when killed.
  int wait() {
    if (!_finished) {
      while (::waitpid(_pid, &_status, 0) < 0 && errno == EINTR) {
      }
      _finished = true;
    }
    if (WIFEXITED(_status)) return WEXITSTATUS(_status);
    if (WIFSIGNALED(_status)) return 128 + WTERMSIG(_status);
    return -1;
  }

  std::string output() const { return readIfPresent(_outFile); }
  std::string errors() const { return readIfPresent(_errFile); }

 private:
  // The child creates its output files only once it runs.
  static std::string readIfPresent(const fs::path& file) { return fs::exists(file) ? readFile(file) : std::string(); }

  bool hasEnded() {
    if (!_finished && ::waitpid(_pid, &_status, WNOHANG) == _pid) _finished = true;
    return _finished;
  }

  // Each run gets its own output files, so a test never reads an earlier run's lines.
  static inline int _runs = 0;
  fs::path _outFile, _errFile;
  pid_t _pid = -1;
  int _status = 0;
  bool _finished = false;
};

// An installed tree (old versions) and a package with new versions of the
// same files, in a fresh temporary directory.
class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(app);
    fs::create_directories(logs);
  }

  void install(const std::map<std::string, std::string>& files) {
    for (const auto& [name, data] : files) {
      std::ofstream(app / name, std::ios::binary) << data;
      oldFiles[name] = data;
    }
  }

  // Package: manifest first, then `files` in the given order with `method`.
  void makePackage(const std::vector<std::pair<std::string, std::string>>& files, uint16_t method,
                   const std::string& manifest) {
    ZipBuilder builder;
    builder.add("manifest.json", manifest);
    for (const auto& [name, data] : files) {
      builder.add(name, data, method);
      newFiles[name] = data;
    }
    builder.write(package);
  }

  // Every installed or packaged name holds its old or its new complete data
  // (or is absent when it had no old version).
  void expectOldOrNew() {
    for (const auto& [name, data] : newFiles) {
      fs::path target = app / name;
      auto old = oldFiles.find(name);
      if (!fs::exists(target)) {
        EXPECT_TRUE(old == oldFiles.end()) << name << " vanished";
        continue;
      }
      std::string now = readFile(target);
      bool isOld = old != oldFiles.end() && now == old->second;
      EXPECT_TRUE(isOld || now == data) << name << " holds " << now.size() << " bytes: neither old ("
                                        << (old == oldFiles.end() ? 0 : old->second.size()) << ") nor new ("
                                        << data.size() << ")";
    }
  }

  TempDir dir;
  fs::path app = dir / "app";
  fs::path logs = dir / "logs";
  fs::path package = dir / "update.zip";
  std::map<std::string, std::string> oldFiles, newFiles;
};

// True when a regular file in `directory` is larger than `low` and smaller
// than `high` bytes: a file being written.
bool partialFileIn(const fs::path& directory, uintmax_t low, uintmax_t high) {
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(directory, ec)) {
    uintmax_t size = fs::file_size(item.path(), ec);
    if (!ec && size > low && size < high) return true;
  }
  return false;
}

TEST_F(FaultInjection, KilledWhileUnpackingLargeEntryLeavesOldOrNewFiles) {
  const size_t bigSize = 32u << 20;
  install({{"first.txt", "old first\n"}, {"big.bin", "old big\n"}, {"last.txt", "old last\n"}});
  makePackage({{"first.txt", "new first\n"}, {"big.bin", payload(bigSize, "new")}, {"last.txt", "new last\n"}}, 8,
              unzipManifest(app));

  RunningUpdater updater({package.string()}, logs);
  ASSERT_TRUE(updater.waitForOutput("Unzip file: big.bin")) << updater.output();
  bool caughtMidWrite = updater.waitUntil([&] { return partialFileIn(app, 8, bigSize); });
  updater.kill();
  EXPECT_EQ(137, updater.wait()) << updater.output();
  EXPECT_TRUE(caughtMidWrite) << "the run ended before a partial file was seen";

  expectOldOrNew();
  EXPECT_EQ("new first\n", readFile(app / "first.txt"));
  EXPECT_EQ("old last\n", readFile(app / "last.txt"));
}

TEST_F(FaultInjection, KilledAtManyPointsNeverLeavesPartialFiles) {
  // Killed after increasing delays: before, during and after each entry.
  install({{"one.bin", "old one\n"}, {"two.bin", "old two\n"}, {"three.bin", "old three\n"}});
  makePackage({{"one.bin", payload(6u << 20, "one")},
               {"two.bin", payload(6u << 20, "two")},
               {"three.bin", payload(6u << 20, "three")}},
              8, unzipManifest(app));
  for (int delayMs : {0, 5, 20, 40, 80, 160}) {
    SCOPED_TRACE("killed after " + std::to_string(delayMs) + " ms");
    RunningUpdater updater({package.string()}, logs);
    ASSERT_TRUE(updater.waitForOutput("Unzip file: ")) << updater.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    updater.kill();
    int status = updater.wait();
    EXPECT_TRUE(status == 137 || status == 0) << status;
    expectOldOrNew();
    // Leftover temporary files may remain after a kill; they never carry a target's name.
    for (const auto& name : namesIn(app)) {
      if (newFiles.count(name) == 0) fs::remove(app / name);
    }
  }
}

TEST_F(FaultInjection, WriteFailureEndsRunWithStatus2AndKeepsOldFile) {
  const size_t bigSize = 1u << 20;
  install({{"big.bin", "old big\n"}, {"last.txt", "old last\n"}});
  makePackage({{"first.txt", payload(100, "first")}, {"big.bin", payload(bigSize, "new")}, {"last.txt", "new last\n"}},
              8, unzipManifest(app));

  testing_support::RunOptions options;
  options.fileSizeLimit = 256 << 10;
  auto result = testing_support::runUpdater({package.string()}, options);

  const std::string expectedStart = header(package.string()) + "\nPerform action: unpack\n" +
                                    "Unzip archive @update.zip to " + app.string() + "\n" + "Open zip file " +
                                    package.string() + "\n" + "Entries count 4\n" +
                                    "Skip unzip file (in exclude list)manifest.json\n" +
                                    "Unzip file: first.txt, size:100, to: " + quoted(app / "first.txt") + "\n" +
                                    "Unzip file: big.bin, size:" + std::to_string(bigSize) +
                                    ", to: " + quoted(app / "big.bin") + "\n" + "Update failed: ";
  EXPECT_EQ(2, result.status);
  ASSERT_EQ(expectedStart, result.out.substr(0, expectedStart.size())) << result.out;
  std::string failure = result.out.substr(expectedStart.size());
  // The reason of the failed write is given.
  EXPECT_NE(std::string::npos, failure.find("File too large")) << failure;
  EXPECT_EQ(failure.size() - 1, failure.find('\n')) << "one line ends the run: " << failure;
  EXPECT_EQ("", result.err);

  EXPECT_EQ(payload(100, "first"), readFile(app / "first.txt"));
  EXPECT_EQ("old big\n", readFile(app / "big.bin"));
  EXPECT_EQ("old last\n", readFile(app / "last.txt"));
  // No temporary file is left behind.
  EXPECT_EQ((std::set<std::string>{"first.txt", "big.bin", "last.txt"}), namesIn(app));
}

TEST_F(FaultInjection, WriteFailureOnNewFileLeavesNoFile) {
  makePackage({{"big.bin", payload(1u << 20, "new")}}, 0, unzipManifest(app));
  testing_support::RunOptions options;
  options.fileSizeLimit = 100 << 10;
  auto result = testing_support::runUpdater({package.string()}, options);
  EXPECT_EQ(2, result.status) << result.out;
  EXPECT_NE(std::string::npos, result.out.find("\nUpdate failed: ")) << result.out;
  EXPECT_TRUE(namesIn(app).empty());
}

// The package is swapped for other bytes (a new file renamed over it) while
// a delay runs, before the unzip action opens it again.
TEST_F(FaultInjection, PackageReplacedBeforeUnzipDoesNotCrash) {
  const std::map<std::string, std::string> replacements = {
      {"garbage", payload(5000, "not a zip")},
      {"empty", ""},
      {"other package", ZipBuilder().add("big.bin", "other big\n", 8).add("../escape.txt", "x").bytes()},
  };
  for (const auto& [label, bytes] : replacements) {
    SCOPED_TRACE(label);
    install({{"big.bin", "old big\n"}});
    makePackage({{"big.bin", payload(100000, "new")}}, 8, unzipManifest(app, R"({"type":"delay","value":400},)"));
    RunningUpdater updater({package.string()}, logs);
    ASSERT_TRUE(updater.waitForOutput("Do delay for 400ms")) << updater.output();
    std::ofstream(dir / "replacement.zip", std::ios::binary) << bytes;
    fs::rename(dir / "replacement.zip", package);
    int status = updater.wait();
    EXPECT_TRUE(status == 0 || status == 2) << status << "\n" << updater.output();
    EXPECT_EQ("", updater.errors());
    std::string now = readFile(app / "big.bin");
    EXPECT_TRUE(now == "old big\n" || now == "other big\n") << now.size();
    EXPECT_FALSE(fs::exists(dir / "escape.txt"));
  }
}

// The package's bytes are overwritten in place (same file, so the updater's
// open stream sees the change) while a large entry is being unpacked.
TEST_F(FaultInjection, PackageOverwrittenWhileUnpackingDoesNotCrash) {
  const size_t bigSize = 24u << 20;
  for (const std::string mode : {"truncated", "scrambled"}) {
    SCOPED_TRACE(mode);
    install({{"big.bin", "old big\n"}, {"last.txt", "old last\n"}});
    // Stored, so the updater is still reading the package when it changes.
    makePackage({{"big.bin", payload(bigSize, "new")}, {"last.txt", "new last\n"}}, 0, unzipManifest(app));
    const std::string original = readFile(package);
    const std::string scrambled = payload(original.size() - original.size() / 2, "scrambled");

    RunningUpdater updater({package.string()}, logs);
    ASSERT_TRUE(updater.waitForOutput("Unzip file: big.bin")) << updater.output();
    {
      std::ofstream inPlace(package, std::ios::binary | std::ios::in | std::ios::out |
                                         (mode == "truncated" ? std::ios::trunc : std::ios::openmode{}));
      // The second half changes first, ahead of where the updater reads.
      if (mode == "scrambled") {
        inPlace.seekp(static_cast<std::streamoff>(original.size() / 2));
        inPlace << scrambled;
      }
    }
    int status = updater.wait();
    EXPECT_TRUE(status == 0 || status == 2) << status << "\n" << updater.output();
    EXPECT_EQ("", updater.errors());
    if (status == 2) {
      EXPECT_NE(std::string::npos, updater.output().find("\nUpdate failed: ")) << updater.output();
    }
    expectOldOrNew();
  }
}

}  // namespace
