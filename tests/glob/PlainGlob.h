// The expansion rules written out the slow, obvious way, as an oracle for
// tests: every listing goes through std::filesystem::directory_iterator, every
// entry of a relative directory is resolved on its own with
// std::filesystem::relative, every name compiles its own expression, nothing
// is remembered between listings. Only for trees without symbolic-link cycles.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "glob/detail.h"

namespace glob_testing {

namespace plain {

namespace fs = std::filesystem;
using path_list = std::vector<fs::path>;

inline bool hidden(const fs::path& p) { return !p.string().empty() && p.string()[0] == '.'; }

inline path_list iter_directory(const fs::path& dirname, bool dironly) {
  const fs::path current = dirname.empty() ? fs::current_path() : dirname;
  path_list out;
  if (!fs::exists(current)) return out;
  try {
    const auto options =
        fs::directory_options::follow_directory_symlink | fs::directory_options::skip_permission_denied;
    for (const auto& entry : fs::directory_iterator(current, options)) {
      if (dironly && !entry.is_directory()) continue;
      out.push_back(dirname.has_root_directory() ? entry.path() : fs::relative(entry.path()));
    }
  } catch (const std::exception&) {
  }
  return out;
}

inline path_list rlistdir(const fs::path& dirname, bool dironly) {
  path_list out;
  for (const auto& entry : iter_directory(dirname, dironly)) {
    if (hidden(entry)) continue;
    out.push_back(entry);
    for (auto& below : rlistdir(entry, dironly)) out.push_back(below);
  }
  return out;
}

inline path_list glob1(const fs::path& dirname, const fs::path& pattern, bool dironly) {
  path_list names;
  for (const auto& entry : iter_directory(dirname, dironly)) {
    if (hidden(entry)) continue;
    if (glob::detail::match_name(entry.filename().string(), pattern.string())) names.push_back(entry.filename());
  }
  return names;
}

inline path_list glob(const fs::path& pathname, bool recursive, bool dironly) {
  using glob::detail::has_magic;
  using glob::detail::is_recursive;
  const std::string text = pathname.string();
  fs::path path(text);
  if (text.rfind("~", 0) == 0) path = glob::detail::expand_tilde(path);
  if (text.rfind(".", 0) == 0) {
    std::string rel = path.string();
    fs::path base = fs::current_path();
    while (rel.compare(0, 3, "../") == 0) {
      rel.erase(0, 3);
      base = base.parent_path();
    }
    path = base / rel;
  }
  const fs::path dirname = path.parent_path();
  const fs::path basename = path.filename();
  if (!has_magic(text)) {
    if (!basename.empty() && fs::exists(path)) return {path};
    if (basename.empty() && fs::is_directory(dirname)) return {path};
    return {};
  }
  if (dirname.empty()) {
    return recursive && is_recursive(basename.string()) ? rlistdir(dirname, dironly)
                                                        : glob1(dirname, basename, dironly);
  }
  const path_list dirs =
      (dirname != fs::path(text) && has_magic(dirname.string())) ? glob(dirname, recursive, true) : path_list{dirname};
  path_list result;
  for (const auto& d : dirs) {
    path_list names;
    if (!has_magic(basename.string()))
      names = glob::detail::glob0(d, basename, dironly);
    else if (recursive && is_recursive(basename.string()))
      names = rlistdir(d, dironly);
    else
      names = glob1(d, basename, dironly);
    for (auto& name : names) result.push_back(name.parent_path().empty() ? d / name : name);
  }
  return result;
}

}  // namespace plain
}  // namespace glob_testing
