// Test-side helpers for the glob tests: a tree of files in a temporary
// directory, entered as the current directory while a test runs, and a scoped
// change of an environment variable.
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
using Strings = std::vector<std::string>;

// Sets (or with nullopt unsets) a variable until destroyed.
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
  void set(const std::optional<std::string>& value) { value ? ::setenv(_name, value->c_str(), 1) : ::unsetenv(_name); }
  const char* _name;
  std::optional<std::string> _saved;
};

// The tree is the current directory until the test ends, whatever directory
// the test changes to.
class GlobTree : public ::testing::Test {
 protected:
  GlobTree() : _saved(fs::current_path()) { fs::current_path(_tmp.path()); }
  ~GlobTree() override {
    std::error_code ignored;
    fs::current_path(_saved, ignored);
  }

  const fs::path& root() const { return _tmp.path(); }
  void files(std::initializer_list<const char*> relatives) const {
    for (const char* relative : relatives) _tmp.write(relative, "x");
  }
  void dir(const std::string& relative) const { _tmp.mkdir(relative); }
  void link(const std::string& relative, const fs::path& target) const {
    fs::create_directories((root() / relative).parent_path());
    fs::create_symlink(target, root() / relative);
  }
  // The texts with a leading "@" replaced by the tree's absolute path.
  Strings at_root(Strings texts) const {
    for (auto& t : texts)
      if (!t.empty() && t[0] == '@') t = root().string() + t.substr(1);
    return texts;
  }

 private:
  testing_support::TempDir _tmp;
  fs::path _saved;
};

inline Strings texts(const std::vector<fs::path>& paths) {
  Strings out;
  for (const auto& p : paths) out.push_back(p.string());
  return out;
}

// For results whose order is the operating system's listing order.
inline Strings sorted(const std::vector<fs::path>& paths) {
  Strings out = texts(paths);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace glob_testing
