#include "platform/ConfinedDirectory.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {
namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// Resolves "." and ".." of `path` lexically; nothing when it climbs above
// its start.
std::optional<fs::path> normalise(const fs::path& path) {
  fs::path result;
  int depth = 0;
  for (const fs::path& element : path) {
    const std::string& text = element.native();
    if (text.empty() || text == ".") continue;  // an empty element stands for a trailing "/"
    if (text == "..") {
      if (depth == 0) return std::nullopt;
      result = result.parent_path();
      --depth;
    } else {
      result /= element;
      ++depth;
    }
  }
  return result;
}

// Follows the chain of links from `link` as far as it goes and returns the
// path it ends at, resolved as far as the file system allows.
fs::path whereDanglingLinkLeads(fs::path link) {
  for (int hop = 0; hop < 40 && fs::is_symlink(link); ++hop) {
    fs::path text = fs::read_symlink(link);
    link = fs::weakly_canonical(text.is_absolute() ? text : link.parent_path() / text);
  }
  return link;
}

}  // namespace

ConfinedDirectory::ConfinedDirectory(const fs::path& root) : _root(fs::canonical(root)) {
  if (!fs::is_directory(_root)) fail("unzip destination is not a directory", root, ENOTDIR);
}

std::optional<fs::path> ConfinedDirectory::relativePath(const std::string& name) {
  fs::path path(name);
  if (path.has_root_path()) return std::nullopt;
  return normalise(path);
}

bool ConfinedDirectory::createDirectories(const fs::path& relative) {
  fs::path level = _root;
  std::string key;
  for (const fs::path& element : relative) {
    level /= element;
    key += element.native();
    key += '/';
    if (_verified.count(key) != 0) continue;
    struct stat info;
    if (::lstat(level.c_str(), &info) != 0) {
      if (errno != ENOENT) fail("cannot create directory", level, errno);
      // The level above is a verified directory inside the root, so the new
      // one is inside as well.
      if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) fail("cannot create directory", level, errno);
      if (::lstat(level.c_str(), &info) != 0) fail("cannot create directory", level, errno);
    }
    if (S_ISLNK(info.st_mode)) {
      std::error_code error;
      fs::path resolved = fs::canonical(level, error);
      if (error) {  // dangling: see whether it would lead out before failing
        if (!inside(whereDanglingLinkLeads(level))) return false;
        fail("cannot create directory", level, error.value());
      }
      if (!inside(resolved)) return false;
      if (!fs::is_directory(resolved)) fail("cannot create directory", level, ENOTDIR);
    } else if (!S_ISDIR(info.st_mode)) {
      fail("cannot create directory", level, ENOTDIR);
    }
    _verified.insert(key);
  }
  return true;
}

bool ConfinedDirectory::linkStaysInside(const fs::path& relative, const std::string& linkText) const {
  fs::path text(linkText);
  if (text.has_root_path()) return false;
  std::optional<fs::path> byText = normalise(relative.parent_path() / text);
  if (!byText) return false;
  // The text alone can stay inside and still climb out through a link met
  // on its way ("r/.." with r linking to "."), so resolve the real path too.
  return inside(fs::weakly_canonical(_root / relative.parent_path() / text));
}

bool ConfinedDirectory::inside(const fs::path& absolute) const {
  auto path = absolute.begin();
  for (auto level = _root.begin(); level != _root.end(); ++level, ++path) {
    if (path == absolute.end() || *path != *level) return false;
  }
  return true;
}

}  // namespace platform
