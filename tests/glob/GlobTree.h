// Glob test helpers: a temporary tree that is the current directory while a
// test runs, and a scoped environment variable.
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
struct EnvVar {
  EnvVar(const char* variable, const std::optional<std::string>& value) : name(variable) {
    if (const char* old = std::getenv(name)) saved = old;
    value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }
  ~EnvVar() { saved ? ::setenv(name, saved->c_str(), 1) : ::unsetenv(name); }
  const char* name;
  std::optional<std::string> saved;
};

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

inline Strings sorted(const std::vector<fs::path>& paths) {
  Strings out = texts(paths);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace glob_testing
