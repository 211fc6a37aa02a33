// Test-side helpers for the glob tests: a tree of files in a temporary
// directory that is also the current directory while a test runs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace glob_testing {

namespace fs = std::filesystem;
using path_list = std::vector<fs::path>;

// Changes the current directory and changes it back when destroyed.
class CurrentDir {
 public:
  explicit CurrentDir(const fs::path& dir) : _saved(fs::current_path()) { fs::current_path(dir); }
  ~CurrentDir() {
    std::error_code ec;
    fs::current_path(_saved, ec);
  }
  CurrentDir(const CurrentDir&) = delete;
  CurrentDir& operator=(const CurrentDir&) = delete;

 private:
  fs::path _saved;
};

// Sets or unsets an environment variable and restores it when destroyed.
class EnvVar {
 public:
  EnvVar(const char* name, const std::optional<std::string>& value) : _name(name) {
    if (const char* old = std::getenv(name)) _saved = old;
    set(value);
  }
  ~EnvVar() { set(_saved); }
  EnvVar(const EnvVar&) = delete;
  EnvVar& operator=(const EnvVar&) = delete;

 private:
  void set(const std::optional<std::string>& value) {
    if (value)
      ::setenv(_name, value->c_str(), 1);
    else
      ::unsetenv(_name);
  }
  const char* _name;
  std::optional<std::string> _saved;
};

// A temporary directory, entered as the current directory for the test.
class GlobTree : public ::testing::Test {
 protected:
  GlobTree() : _cwd(_tmp.path()) {}

  const fs::path& root() const { return _tmp.path(); }
  void file(const std::string& relative) const { _tmp.write(relative, "x"); }
  void dir(const std::string& relative) const { _tmp.mkdir(relative); }
  void link(const std::string& relative, const fs::path& target) const {
    fs::create_directories((root() / relative).parent_path());
    fs::create_symlink(target, root() / relative);
  }

 private:
  testing_support::TempDir _tmp;
  CurrentDir _cwd;
};

// The path texts, sorted: for results whose order depends on the listing order
// of the operating system.
inline std::vector<std::string> sorted(const path_list& paths) {
  std::vector<std::string> texts;
  for (const auto& p : paths) texts.push_back(p.string());
  std::sort(texts.begin(), texts.end());
  return texts;
}

inline std::vector<std::string> texts(const path_list& paths) {
  std::vector<std::string> out;
  for (const auto& p : paths) out.push_back(p.string());
  return out;
}

}  // namespace glob_testing
