// A scoped temporary directory for tests that work on the real disk.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testing_support {

// Reads a whole file; throws std::runtime_error when it cannot be opened.
inline std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh directory under `parent` (by default the system's temporary
// folder), removed with everything inside when destroyed. Permission bits inside are restored
// first so that a test that made a file unreadable still cleans up.
class TempDir {
 public:
  explicit TempDir(const std::filesystem::path& parent = std::filesystem::temp_directory_path()) {
    std::string templ = (parent / "updater-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    // Canonical, so that tests can compare with the canonical paths the
    // updater prints even when the temporary folder is reached through a link.
    _path = std::filesystem::canonical(templ);
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(_path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return _path; }
  std::filesystem::path operator/(const std::string& name) const { return _path / name; }

  // Writes `content` to `relative` below the directory, creating its parents.
  std::filesystem::path write(const std::string& relative, const std::string& content) const {
    std::filesystem::path file = _path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return file;
  }
  // Creates the directory `relative` below the directory, with its parents.
  std::filesystem::path mkdir(const std::string& relative) const {
    std::filesystem::create_directories(_path / relative);
    return _path / relative;
  }

 private:
  std::filesystem::path _path;
};

}  // namespace testing_support
