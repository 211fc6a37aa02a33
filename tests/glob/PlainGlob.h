// The listing rules written out the slow, obvious way, as an oracle for the
// walk's shortcuts: every entry of a relative directory is resolved on its own
// with std::filesystem::relative. Only for trees without symbolic-link cycles.
#pragma once

#include <filesystem>
#include <vector>

namespace glob_testing::plain {

namespace fs = std::filesystem;

inline std::vector<fs::path> iter_directory(const fs::path& dirname, bool dironly) {
  const fs::path current = dirname.empty() ? fs::current_path() : dirname;
  std::vector<fs::path> out;
  if (!fs::exists(current)) return out;
  try {
    for (const auto& entry : fs::directory_iterator(current, fs::directory_options::follow_directory_symlink |
                                                                 fs::directory_options::skip_permission_denied)) {
      if (dironly && !entry.is_directory()) continue;
      out.push_back(dirname.has_root_directory() ? entry.path() : fs::relative(entry.path()));
    }
  } catch (const std::exception&) {
  }
  return out;
}

inline std::vector<fs::path> rlistdir(const fs::path& dirname, bool dironly) {
  std::vector<fs::path> out;
  for (const auto& entry : iter_directory(dirname, dironly)) {
    if (entry.string()[0] == '.') continue;
    out.push_back(entry);
    for (auto& below : rlistdir(entry, dironly)) out.push_back(below);
  }
  return out;
}

}  // namespace glob_testing::plain
