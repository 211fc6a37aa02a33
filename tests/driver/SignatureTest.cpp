// Package signatures through the real executable, with keys and signatures
// made by the real `minisign` tool. The updater looks for `updater.pub`
// beside itself, so each test runs a copy of the binary from its own
// directory. Every refused package ends with one "Update failed: " line,
// status 2 and nothing unpacked; a package changed on disk after the check is
// not what gets unpacked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/Helpers.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ZipBuilder.h"

namespace fs = std::filesystem;
namespace ts = testing_support;

namespace {

const std::string kComment = "release 2.1 for everyone";
const std::string kPayload = "the new program, version 2.1\n";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

class Signing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(minisign.empty()) << "minisign is missing (scripts/setup installs it)";
    fs::create_directories(dir / "bin");
    fs::copy_file(ts::updaterPath(), updater);
    makeKey("key");
    makeKey("other");
    fs::copy_file(dir / "key.pub", keyFile);
  }

  void minisignRun(const std::vector<std::string>& args) {
    ts::RunResult result = ts::run(minisign.string(), args);
    ASSERT_EQ(0, result.status) << result.out << result.err;
  }
  void makeKey(const std::string& name) {
    minisignRun({"-G", "-W", "-p", (dir / (name + ".pub")).string(), "-s", (dir / (name + ".sec")).string()});
  }
  // The key ID that minisign writes in the public key's comment, in 16
  // digits (older releases of minisign leave out leading zeros).
  std::string keyId(const std::string& name) {
    std::string comment = lines(ts::readFile(dir / (name + ".pub"))).at(0);
    std::string id = comment.substr(comment.rfind(' ') + 1);
    return std::string(16 - std::min<size_t>(16, id.size()), '0') + id;
  }
  void sign(const std::string& key = "key", bool legacy = false) {
    std::vector<std::string> args = {"-S", "-s",    (dir / (key + ".sec")).string(), "-m", package.string(),
                                     "-t", kComment};
    if (legacy) args.push_back("-l");
    minisignRun(args);
  }

  // A package that unpacks `payload` into app/, the manifest left out.
  fs::path makePackage(const std::string& payload, const std::string& name = "update.zip") {
    fs::path file = dir / name;
    ts::ZipBuilder()
        .add("manifest.json", R"({"actions":[[{"type":"unzip","description":"unpack","source":"@update.zip",)"
                              R"("destination":")" +
                                  app.string() + R"(","include":[],"exclude":["manifest.json"]}]]})")
        .add("payload.txt", payload)
        .write(file);
    return file;
  }

  ts::RunResult run() { return ts::run(updater.string(), {package.string()}); }

  std::string unpackOutput() const {
    return "\nPerform action: unpack\nUnzip archive @update.zip to " + app.string() + "\nOpen zip file " +
           package.string() + "\nEntries count 2\nSkip unzip file (in exclude list)manifest.json\n" +
           "Unzip file: payload.txt, size:" + std::to_string(kPayload.size()) + ", to: " + ts::q(app / "payload.txt") +
           "\n";
  }
  // After the header.
  std::string goodOutput() {
    return "Signature verified: key " + keyId("key") + ", trusted comment: " + kComment + "\n" + unpackOutput();
  }

  ts::TempDir dir;
  fs::path minisign = ts::findProgram("minisign");
  fs::path updater = dir / "bin" / "updater";
  fs::path keyFile = dir / "bin" / "updater.pub";
  fs::path app = dir / "app";
  fs::path package = dir / "update.zip";
  fs::path signature = dir / "update.zip.minisig";
};

// Both of minisign's algorithms verify; a key file may hold several keys
// (rotation); without a trusted key a signature beside the package is
// ignored and the run is as it always was. Each damage ends the run right
// after the header with one line naming the signature problem, status 2,
// and nothing unpacked.
TEST_F(Signing, GoodAndRefusedPackagesAndKeys) {
  const std::string sig = "signature file " + signature.string();
  const std::string keys = "trusted key file " + keyFile.string();
  auto signatureLines = [&](const std::function<void(std::vector<std::string>&)>& change) {
    return [this, change] {
      std::vector<std::string> text = lines(ts::readFile(signature));
      change(text);
      std::string joined;
      for (const auto& line : text) joined += line + "\n";
      dir.write("update.zip.minisig", joined);
    };
  };
  auto flipPackageByte = [&] {
    std::string bytes = ts::readFile(package);
    bytes[bytes.find("version 2.1")] ^= 0x20;
    dir.write("update.zip", bytes);
  };
  auto refused = [](const std::string& reason) { return "Update failed: " + reason + "\n"; };
  struct Case {
    const char* name;
    std::function<void()> change;
    std::string out;  // after the header
  };
  const Case cases[] = {
      {"prehashed", [] {}, goodOutput()},
      {"legacy", [&] { sign("key", true); }, goodOutput()},
      {"second key of the file",
       [&] { dir.write("bin/updater.pub", ts::readFile(dir / "other.pub") + ts::readFile(dir / "key.pub")); },
       goodOutput()},
      {"no key file", [&] { fs::remove(keyFile); }, unpackOutput()},
      {"no signature file", [&] { fs::remove(signature); },
       refused(sig + " cannot be read: No such file or directory")},
      {"signed with another key", [&] { sign("other"); },
       refused(sig + " is made with key " + keyId("other") + ", which is not a trusted key")},
      {"package byte flipped", flipPackageByte, refused("package does not match " + sig)},
      {"legacy, package byte flipped", [&] { sign("key", true), flipPackageByte(); },
       refused("package does not match " + sig)},
      // Character 50 of the base64 line lies in the signature, past algorithm and key ID.
      {"signature byte flipped", signatureLines([](auto& l) { l.at(1)[50] = l.at(1)[50] == 'A' ? 'B' : 'A'; }),
       refused("package does not match " + sig)},
      {"trusted comment changed", signatureLines([](auto& l) { l.at(2) += "!"; }),
       refused("trusted comment of " + sig + " does not match its signature")},
      {"signature cut after two lines", signatureLines([](auto& l) { l.resize(2); }),
       refused(sig + " is malformed: line 3: missing; expected a line starting \"trusted comment: \"")},
      {"signature garbled", signatureLines([](auto& l) { l.at(1).replace(10, 4, "*?!#"); }),
       refused(sig + " is malformed: line 2: not the base64 text of a minisign signature")},
      {"signature empty", [&] { dir.write("update.zip.minisig", ""); },
       refused(sig + " is malformed: line 1: missing; expected a line starting \"untrusted comment: \"")},
      {"package is a pipe (would never end)", [&] { fs::remove(package), ::mkfifo(package.c_str(), 0600); },
       refused("package " + package.string() + " is not a regular file")},
      {"key file with trailing junk", [&] { dir.write("bin/updater.pub", ts::readFile(dir / "key.pub") + "junk\n"); },
       refused(keys + " is malformed: line 3: does not start \"untrusted comment: \"")},
      {"key file empty", [&] { dir.write("bin/updater.pub", ""); }, refused(keys + " is malformed: holds no key")},
      {"key line cut short", [&] { dir.write("bin/updater.pub", ts::readFile(dir / "key.pub").substr(0, 80)); },
       refused(keys + " is malformed: line 2: not the base64 text of a minisign public key")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(app);
    fs::copy_file(dir / "key.pub", keyFile, fs::copy_options::overwrite_existing);
    fs::remove(package);
    makePackage(kPayload);
    sign();
    c.change();
    ts::RunResult result = run();
    const bool good = c.out.rfind("Update failed: ", 0) != 0;
    EXPECT_EQ(ts::header(package.string()) + c.out, result.out);
    EXPECT_EQ("", result.err);
    EXPECT_EQ(good ? 0 : 2, result.status);
    EXPECT_EQ(good, fs::exists(app));
    if (good) {
      EXPECT_EQ(kPayload, ts::readFile(app / "payload.txt"));
    }
  }
}

// The package is replaced on disk once it has been checked: renamed over, or
// rewritten in place with the same size (which keeps its inode, size and,
// set back, its modification time). The run still unpacks the checked bytes.
// The moment is held by a pipe for standard output that has room for the
// header only: the updater then blocks writing the signature line, after the
// check and before the manifest is read.
TEST_F(Signing, PackageReplacedAfterTheCheckIsNotUsed) {
  const std::string evil = "the attacker's program, v6.6\n";
  ASSERT_EQ(kPayload.size(), evil.size());
  const std::string evilBytes = ts::readFile(makePackage(evil, "evil.zip"));
  for (bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace ? "rewritten in place" : "renamed over");
    fs::remove_all(app);
    makePackage(kPayload);
    makePackage(evil, "evil.zip");
    sign();
    ASSERT_EQ(evilBytes.size(), fs::file_size(package));

    int out[2];
    ASSERT_EQ(0, ::pipe2(out, O_CLOEXEC));
    const int capacity = ::fcntl(out[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    const std::string header = ts::header(package.string());
    const std::string filler(static_cast<size_t>(capacity) - header.size(), '.');
    ASSERT_EQ(static_cast<ssize_t>(filler.size()), ::write(out[1], filler.data(), filler.size()));

    ts::Child child(updater.string(), {package.string()}, out[1]);
    ::close(out[1]);
    // Blocked on the full pipe once the header is in it.
    const fs::path wchan = "/proc/" + std::to_string(child.pid()) + "/wchan";
    const bool blocked = ts::waitUntil([&] {
      int queued = 0;
      ::ioctl(out[0], FIONREAD, &queued);
      return queued == capacity && ts::readFile(wchan).find("pipe_write") != std::string::npos;
    });
    if (blocked && inPlace) {
      const auto modified = fs::last_write_time(package);
      std::ofstream(package, std::ios::in | std::ios::out | std::ios::binary) << evilBytes;  // not truncated first
      fs::last_write_time(package, modified);
    } else if (blocked) {
      fs::rename(dir / "evil.zip", package);
    }

    std::string output;
    char buffer[65536];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) output.append(buffer, got);
    ::close(out[0]);
    ASSERT_TRUE(blocked) << "the updater never blocked on the signature line";

    EXPECT_EQ(filler + header + goodOutput(), output);
    EXPECT_EQ(0, child.wait());
    EXPECT_EQ(kPayload, ts::readFile(app / "payload.txt"));
    EXPECT_EQ(evilBytes, ts::readFile(package)) << "the package was not replaced";
  }
}

}  // namespace
