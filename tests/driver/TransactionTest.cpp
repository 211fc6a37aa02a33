// Transactional action sets through the real executable: a property test
// that runs random sets over random trees twice, plain and as a transaction,
// and compares; an updater killed or signalled mid-set; a remove of
// everything while the transaction lives in the same directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "support/Helpers.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace fs = std::filesystem;
namespace ts = testing_support;
using ts::snapshot;

namespace {

// `text` with `from` replaced by `to`, and the process ids in temporary
// file names left out.
std::string replaceAll(const std::string& text, const std::string& from, const std::string& to) {
  return std::regex_replace(ts::replaced(text, from, to), std::regex("\\.updater-[0-9]+-"), ".updater-PID-");
}

// Writes dir/update.zip: `payload`, then the manifest. The data of entry
// `damaged` (when given) gets one byte changed, so that its CRC-32 fails.
std::string writePackage(const ts::TempDir& dir, const std::string& actions, bool transaction, ts::ZipBuilder payload,
                         int damaged = -1) {
  payload.add("manifest.json",
              std::string("{") + (transaction ? "\"transaction\": true, " : "") + "\"actions\": [[" + actions + "]]}");
  std::string bytes = payload.bytes();
  if (damaged >= 0) bytes[payload.localHeaderOffset(static_cast<size_t>(damaged)) + 30 + 3] ^= 1;
  dir.write("update.zip", bytes);
  return "update.zip";
}

// One random case: a small tree under "app" and a set of copy, remove,
// rename and unzip actions on it, the last of them sometimes failing.
struct Case {
  std::vector<std::pair<std::string, std::string>> files;  // relative path, content
  std::vector<std::pair<std::string, std::string>> links;  // relative path, text
  std::vector<std::pair<std::string, mode_t>> modes;
  std::vector<std::pair<std::string, unsigned>> owners;  // uid and gid; only root may give entries away
  ts::ZipBuilder package;
  std::string actions;
  long long fileSizeLimit = -1;
  int damaged = -1;  // index of an entry whose data is damaged

  // With `elsewhere`, "app" is a link to that directory, made first.
  void plant(const ts::TempDir& dir, const fs::path& elsewhere = {}) const {
    if (!elsewhere.empty()) {
      fs::create_directories(elsewhere);
      fs::create_directory_symlink(elsewhere, dir / "app");
    }
    for (const auto& [name, data] : files) dir.write(name, data);
    for (const auto& [name, text] : links) {
      fs::create_directories((dir / name).parent_path());
      fs::create_symlink(text, dir / name);
    }
    for (const auto& [name, mode] : modes) fs::permissions(dir / name, static_cast<fs::perms>(mode));
    for (const auto& [name, id] : owners) {
      if (fs::exists(fs::symlink_status(dir / name))) {
        ASSERT_EQ(::lchown((dir / name).c_str(), id, id + 1), 0);
      }
    }
  }
};

Case randomCase(std::mt19937& random) {
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const std::vector<std::string> names = {"app/a", "app/b.txt", "app/d/c", "app/d/e/f", "app/g/h", "app/g/i.bin"};
  Case c;
  for (const std::string& name : names) {
    if (pick(3) == 0) continue;
    c.files.push_back({name, std::string(static_cast<size_t>(pick(200)), static_cast<char>('a' + pick(26)))});
    if (pick(3) == 0) c.modes.push_back({name, pick(2) ? 0755 : 0600});
  }
  if (pick(2)) c.links.push_back({"app/link", pick(2) ? "b.txt" : "nowhere"});
  if (::geteuid() == 0) {
    for (const char* name : {"app/a", "app/d", "app/link"}) {
      if (pick(2)) c.owners.push_back({name, 1000u + static_cast<unsigned>(pick(3))});
    }
  }
  if (c.files.empty()) c.files.push_back({"app/a", "x"});
  if (pick(3) == 0) c.modes.push_back({"app", 0700});

  const std::vector<std::string> entries = {"a", "d/c", "n/new", "g/i.bin", "z"};
  std::vector<std::string> actions;
  const int count = 1 + pick(4);
  for (int i = 0; i < count; ++i) {
    const std::string& some = c.files[static_cast<size_t>(pick(static_cast<int>(c.files.size())))].first;
    switch (pick(4)) {
      case 0:
        actions.push_back(R"({"type":"copy","include":[")" + some + R"("],"exclude":[],"recursive":true,)" +
                          R"("destination":"app/)" + (pick(2) ? "d" : "copy/x") + R"("})");
        break;
      case 1:
        actions.push_back(R"({"type":"remove","include":[")" + (pick(3) ? some : "app/*") + R"("],"exclude":[]})");
        break;
      case 2:
        actions.push_back(R"({"type":"rename","from":")" + some + R"(","to":"app/renamed)" + std::to_string(i) + "\"}");
        break;
      default:
        actions.push_back(std::string(R"({"type":"unzip","source":"@update.zip","destination":")") +
                          (pick(2) ? "app" : "app/d") + R"(","include":[],"exclude":["manifest.json"]})");
    }
  }
  int added = 1;  // the link entry below
  for (const std::string& entry : entries) {
    if (pick(2)) continue;
    ++added;
    ts::ZipEntrySpec spec = ts::makeEntry(entry, std::string(static_cast<size_t>(pick(300)), 'N'), pick(2) ? 8 : 0);
    spec.externalAttributes = static_cast<uint32_t>(pick(2) ? 0100755 : 0100640) << 16;
    c.package.add(spec);
  }
  ts::ZipEntrySpec linkEntry = ts::makeEntry("ln", "a");
  linkEntry.externalAttributes = 0120777u << 16;
  c.package.add(linkEntry);
  switch (pick(4)) {
    case 0:  // a rename of something missing
      actions.push_back(R"({"type":"rename","from":"app/missing","to":"app/m"})");
      break;
    case 1:  // a write above the limit, in an unzip
      c.package.add("huge", std::string(20000, 'H'));
      c.fileSizeLimit = 10000;
      actions.push_back(R"({"type":"unzip","source":"@update.zip","destination":"app","include":[],"exclude":[]})");
      break;
    case 2:  // an unzip of a damaged entry (a name of three bytes)
      c.damaged = added;
      c.package.add("bad", std::string(100, 'B'));
      actions.push_back(R"({"type":"unzip","source":"@update.zip","destination":"app","include":[],"exclude":[]})");
      break;
    default:  // no failure: the transaction commits
      break;
  }
  for (const std::string& action : actions) c.actions += (c.actions.empty() ? "" : ",") + action;
  return c;
}

// A fresh directory on another file system than the temporary folder (the
// tmpfs at /dev/shm); none when there is no such file system.
std::optional<ts::TempDir> otherFileSystemDir() {
  struct stat shm, temporary;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(fs::temp_directory_path().c_str(), &temporary) != 0 ||
      shm.st_dev == temporary.st_dev || ::access("/dev/shm", W_OK) != 0) {
    return std::nullopt;
  }
  return std::make_optional<ts::TempDir>("/dev/shm");
}

// Waits until the transaction's store holds at least `count` backups (in
// its shard directories).
bool waitForBackups(const fs::path& dir, size_t count) {
  return ts::waitUntil([&] {
    std::error_code error;
    size_t seen = 0;
    for (auto it = fs::recursive_directory_iterator(dir / ".updater-transaction/store", error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      seen += it.depth() == 1;
    }
    return seen >= count;
  });
}

// A large transactional set: remove `bulk` files in one action, then each
// of `count` files one by one, then a long delay, then a failure.
std::string removeEach(const ts::TempDir& dir, int count, int bulk = 0) {
  std::string actions;
  if (bulk > 0) {
    for (int i = 0; i < bulk; ++i) dir.write("app/bulk/g" + std::to_string(i), std::to_string(i));
    actions += R"({"type":"remove","include":["app/bulk/*"],"exclude":[]},)";
  }
  for (int i = 0; i < count; ++i) {
    dir.write("app/f" + std::to_string(i), std::to_string(i));
    actions += R"({"type":"remove","include":["app/f)" + std::to_string(i) + R"("],"exclude":[]},)";
  }
  return actions + R"({"type":"delay","value":20000},{"type":"rename","from":"app/missing","to":"app/m"})";
}

}  // namespace

// The same random sets run plain and as a transaction: a transaction that
// commits leaves the same tree and output as the plain run; one that fails
// prints the plain run's output and "Roll back transaction", and leaves the
// tree exactly as it was, with nothing of the transaction left.
TEST(Transaction, RandomSetsCommitLikePlainRunsOrRollBackToTheSnapshot) {
  // UPDATER_TRANSACTION_SEED and UPDATER_TRANSACTION_ROUNDS make longer runs.
  const char* seed = std::getenv("UPDATER_TRANSACTION_SEED");
  const char* rounds = std::getenv("UPDATER_TRANSACTION_ROUNDS");
  std::mt19937 random(seed != nullptr ? static_cast<unsigned>(std::stoul(seed)) : 20261206u);
  const int count = rounds != nullptr ? std::stoi(rounds) : 100;
  for (int round = 0; round < count; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const Case c = randomCase(random);
    ts::TempDir plainDir, transactionDir;
    // Every third round the tree lies on another file system than the
    // transaction, whose backups must then be copies.
    const auto plainElsewhere = otherFileSystemDir(), transactionElsewhere = otherFileSystemDir();
    const bool elsewhere = round % 3 == 0 && transactionElsewhere;
    c.plant(plainDir, elsewhere ? plainElsewhere->path() / "app" : fs::path());
    c.plant(transactionDir, elsewhere ? transactionElsewhere->path() / "app" : fs::path());
    const auto before = snapshot(transactionDir / "app");
    ts::RunOptions options{plainDir.path()};
    options.fileSizeLimit = c.fileSizeLimit;
    const ts::RunResult plain =
        ts::runUpdater({writePackage(plainDir, c.actions, false, c.package, c.damaged)}, options);
    options.cwd = transactionDir.path();
    const ts::RunResult run =
        ts::runUpdater({writePackage(transactionDir, c.actions, true, c.package, c.damaged)}, options);

    std::string expected = replaceAll(plain.out, plainDir.path().string(), transactionDir.path().string());
    if (elsewhere)
      expected = replaceAll(expected, plainElsewhere->path().string(), transactionElsewhere->path().string());
    if (plain.status == 0) {
      ASSERT_EQ(replaceAll(run.out, "", ""), expected) << c.actions;
      ASSERT_EQ(run.status, 0);
      ASSERT_EQ(snapshot(transactionDir / "app"), snapshot(plainDir / "app")) << c.actions;
    } else {
      ASSERT_EQ(replaceAll(run.out, "", ""), expected + "Roll back transaction\n") << c.actions;
      ASSERT_EQ(run.status, 2);
      ASSERT_EQ(snapshot(transactionDir / "app"), before) << c.actions << run.out;
    }
    ASSERT_FALSE(fs::exists(transactionDir / ".updater-transaction"));
  }
}

// Killed at several moments of a long set: "updater --recover" restores the
// tree; SIGTERM is rolled back by the run itself.
TEST(Transaction, KilledSetIsRecoveredAndSignalledSetRollsItselfBack) {
  for (int signal : {SIGKILL, SIGTERM}) {
    for (size_t after : {1u, 150u, 400u, 550u}) {
      SCOPED_TRACE(std::to_string(signal) + " after " + std::to_string(after));
      ts::TempDir dir;
      const std::string actions = removeEach(dir, 150, 400);
      const auto before = snapshot(dir / "app");
      writePackage(dir, actions, true, {});
      ts::BackgroundUpdater updater({"update.zip"}, dir / "out.txt", {dir.path()});
      ASSERT_TRUE(waitForBackups(dir.path(), after));
      updater.signal(signal);
      const int status = updater.wait();
      if (signal == SIGTERM) {
        EXPECT_EQ(status, 2);
        const std::string out = updater.output();
        EXPECT_NE(out.find("Update failed: Interrupted by SIGTERM\nRoll back transaction\n"), std::string::npos) << out;
      } else {
        ASSERT_TRUE(fs::exists(dir / ".updater-transaction"));
        const ts::RunResult recovered = ts::runUpdater({"--recover"}, {dir.path()});
        EXPECT_EQ(recovered.out,
                  "Recover interrupted transaction in \"" + (dir / ".updater-transaction").string() + "\"\n");
        EXPECT_EQ(recovered.status, 0);
      }
      EXPECT_EQ(snapshot(dir / "app"), before);
      EXPECT_FALSE(fs::exists(dir / ".updater-transaction"));
    }
  }
}

// While a transaction runs, another updater in the same directory refuses
// to touch it; once it is dead, any run recovers it before its own work.
TEST(Transaction, LiveTransactionIsLeftAloneAndDeadOneRecoveredByNextRun) {
  ts::TempDir dir;
  writePackage(dir, removeEach(dir, 3), true, {});
  const auto before = snapshot(dir / "app");
  ts::BackgroundUpdater updater({"update.zip"}, dir / "out.txt", {dir.path()});
  ASSERT_TRUE(waitForBackups(dir.path(), 3));
  const ts::RunOptions options{dir.path()};
  const std::string refusal = "Update failed: another updater is running a transaction in \"" +
                              (dir / ".updater-transaction").string() + "\"\n";
  for (const char* arg : {"--recover", "update.zip"}) {
    const ts::RunResult refused = ts::runUpdater({arg}, options);
    EXPECT_EQ(refused.out, refusal);
    EXPECT_EQ(refused.status, 2);
  }
  updater.signal(SIGKILL);
  updater.wait();
  ts::ZipBuilder().add("manifest.json", R"({"actions":[[]]})").write(dir / "other.zip");
  const ts::RunResult next = ts::runUpdater({"other.zip"}, options);
  EXPECT_EQ(next.out, "Recover interrupted transaction in \"" + (dir / ".updater-transaction").string() + "\"\n" +
                          ts::header("other.zip"));
  EXPECT_EQ(next.status, 0);
  EXPECT_EQ(snapshot(dir / "app"), before);
}

// A remove of everything, "." included, never reaches the transaction: the
// failure after it still rolls everything back.
TEST(Transaction, RemoveOfEverythingLeavesTheTransactionWorking) {
  for (const std::string include : {R"(["*"])", R"(["**/*"])", R"(["."])", R"([".", "*", ".*"])"}) {
    SCOPED_TRACE(include);
    ts::TempDir dir;
    dir.write("app/lib/x.so", "x");
    dir.write(".hidden", "h");
    writePackage(
        dir,
        R"({"type":"remove","include":)" + include + R"(,"exclude":[]},{"type":"rename","from":"missing","to":"m"})",
        true, {});
    const auto before = snapshot(dir.path());
    const ts::RunResult run = ts::runUpdater({"update.zip"}, {dir.path()});
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.out.find("Roll back transaction\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(".updater-transaction"), std::string::npos) << run.out;
    EXPECT_EQ(snapshot(dir.path()), before);
  }
}

// A backup that cannot be put back is named, kept, and the run ends with
// status 3; once the cause is gone, --recover finishes the rollback.
TEST(Transaction, RollbackThatCannotCompleteKeepsTheBackupsForRecover) {
  ts::TempDir dir;
  dir.write("app/x", "old");
  ts::ZipBuilder payload;
  payload.add("x", "new");
  writePackage(dir,
               R"({"type":"unzip","source":"@update.zip","destination":"app","include":["x"],"exclude":[]},)"
               R"({"type":"delay","value":20000},{"type":"rename","from":"missing","to":"m"})",
               true, payload);
  ts::BackgroundUpdater updater({"update.zip"}, dir / "out.txt", {dir.path()});
  ASSERT_TRUE(waitForBackups(dir.path(), 1));
  // The directory that held the file becomes a file: nothing can go back into it.
  ASSERT_TRUE(fs::exists(dir / "app/x"));
  fs::remove_all(dir / "app");
  dir.write("app", "in the way");
  updater.signal(SIGTERM);
  EXPECT_EQ(updater.wait(), 3);
  const std::string transaction = (dir / ".updater-transaction").string();
  const std::string out = updater.output();
  const std::string tail = "Update failed: Interrupted by SIGTERM\nRoll back transaction\nCannot restore \"" +
                           (dir / "app/x").string() + "\": ";
  ASSERT_NE(out.find(tail), std::string::npos) << out;
  const std::string last = "\nRollback incomplete, backups kept in \"" + transaction + "\"\n";
  EXPECT_EQ(out.substr(out.size() - std::min(out.size(), last.size())), last) << out;

  const ts::RunOptions options{dir.path()};
  const std::string recovering = "Recover interrupted transaction in \"" + transaction + "\"\n";
  ts::RunResult again = ts::runUpdater({"--recover"}, options);
  EXPECT_EQ(again.status, 3);
  EXPECT_EQ(again.out.substr(0, recovering.size()), recovering);
  fs::remove(dir / "app");
  fs::create_directory(dir / "app");
  again = ts::runUpdater({"--recover"}, options);
  EXPECT_EQ(again.out, recovering);
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(ts::readFile(dir / "app/x"), "old");
  EXPECT_FALSE(fs::exists(dir / ".updater-transaction"));
}

// Killed while unpacking the first file into an existing directory, before
// any change there is recorded: recovery still removes the temporary file.
TEST(Transaction, KilledUnzipLeavesNoTemporaryFileAfterRecover) {
  ts::TempDir dir;
  dir.write("app/old", "old");
  ts::ZipBuilder payload;
  payload.add("big", std::string(size_t{32} << 20, 'x'), 8);
  writePackage(dir, R"({"type":"unzip","source":"@update.zip","destination":"app","include":["big"],"exclude":[]})",
               true, payload);
  const auto before = snapshot(dir / "app");
  ts::BackgroundUpdater updater({"update.zip"}, dir / "out.txt", {dir.path()});
  ASSERT_TRUE(updater.waitUntil([&] {
    const std::vector<std::string> names = ts::listing(dir / "app");
    return std::any_of(names.begin(), names.end(), [](const std::string& n) { return n.rfind(".updater-", 0) == 0; });
  }));
  updater.signal(SIGKILL);
  updater.wait();
  EXPECT_EQ(ts::runUpdater({"--recover"}, {dir.path()}).status, 0);
  EXPECT_EQ(snapshot(dir / "app"), before);
}
