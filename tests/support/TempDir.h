// A scoped temporary directory for tests that work on the real disk.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

// Creates a fresh directory under the system's temporary folder and removes it
// with everything inside when destroyed. Permission bits inside are restored
// first so that a test that made a file unreadable still cleans up.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return _path; }
  std::filesystem::path operator/(const std::string& name) const { return _path / name; }

  // Writes `content` to `relative` below the directory, creating its parents.
  std::filesystem::path write(const std::string& relative, const std::string& content) const;
  // Creates the directory `relative` below the directory, with its parents.
  std::filesystem::path mkdir(const std::string& relative) const;

 private:
  std::filesystem::path _path;
};

// Reads a whole file; throws std::runtime_error when it cannot be opened.
std::string readFile(const std::filesystem::path& file);

}  // namespace testing_support
