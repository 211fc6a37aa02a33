// Expansion of whole patterns: "~" and the current-directory anchor, the walk
// over the pattern's components, and the public entry points.
#include "glob/glob.h"

#include <cassert>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "glob/detail/directory_reader.h"
#include "glob/detail/listing.h"
#include "glob/detail/pattern.h"
#include "glob/detail/tree_walk.h"

namespace glob {
namespace {

namespace fs = std::filesystem;
using detail::expansion_context;
using detail::path_list;

fs::path expand_tilde(const fs::path& path) {
  const char* home = std::getenv("HOME");
  if (home == nullptr) {
    throw std::invalid_argument("error: Unable to expand `~` - HOME environment variable not set.");
  }
  return fs::path(std::string(home) + path.string().substr(1));
}

// The names of one directory that match a component, as bare file names.
path_list matching_names(expansion_context& context, const fs::path& dirname, detail::name_matcher& matcher,
                         bool dironly) {
  detail::directory_listing listing(context, dirname.native(), dironly);
  path_list names;
  listing.for_each([&](const detail::listed_entry& listed) {
    if (!listing.hidden(listed) && matcher.matches(listed.name)) {
      names.emplace_back(listed.name);
      // A directory found here is listed at the next level of the pattern.
      // Unless it is a link, it resolves to this directory's resolved path
      // and its name, which spares resolving its whole path again there.
      const std::string& resolved = listing.resolved_directory();
      if (dironly && !listed.link && listed.name == *listed.entry && !resolved.empty()) {
        context.remember(detail::join(dirname.native(), listed.name), detail::join(resolved, listed.name));
      }
    }
  });
  return names;
}

// The last component without wildcards: the name itself if it exists.
path_list glob0(const fs::path& dirname, const fs::path& basename) {
  if (basename.empty()) {
    if (fs::is_directory(dirname)) {
      return {basename};
    }
  } else if (fs::exists(dirname / basename)) {
    return {basename};
  }
  return {};
}

// The last component "**" under recursion: the whole tree below.
path_list glob2(expansion_context& context, const fs::path& dirname, const fs::path& pattern, bool dironly) {
  assert(detail::is_recursive(pattern.string()));
  (void)pattern;
  return detail::rlistdir(context, dirname, dironly);
}

// The expansion of one pattern, the directory part first (directories only).
// Only what is needed after the directory part's expansion is kept while it
// runs, so a pattern of many levels costs little memory per level.
path_list expand_pattern(expansion_context& context, const std::string& text, bool recursive, bool dironly) {
  std::string dirname;
  fs::path basename;
  {
    fs::path path(text);
    if (text.rfind("~", 0) == 0) {
      path = expand_tilde(path);
    }
    if (text.rfind(".", 0) == 0) {
      std::string rel = path.string();
      fs::path base = fs::current_path();
      while (rel.compare(0, 3, "../") == 0) {
        rel.erase(0, 3);
        base = base.parent_path();
      }
      path = base / rel;
    }
    basename = path.filename();
    if (!detail::has_magic(text)) {
      assert(!dironly);
      if (!basename.empty() && fs::exists(path)) {
        return {path};
      }
      if (basename.empty() && fs::is_directory(path.parent_path())) {
        return {path};
      }
      return {};
    }
    dirname = path.parent_path().native();
  }

  const bool tree = recursive && detail::is_recursive(basename.string());
  if (dirname.empty()) {
    if (tree) {
      return glob2(context, dirname, basename, dironly);
    }
    detail::name_matcher matcher(basename.string());
    return matching_names(context, dirname, matcher, dironly);
  }

  path_list dirs;
  if (detail::has_magic(dirname) && fs::path(dirname) != fs::path(text)) {
    dirs = expand_pattern(context, dirname, recursive, true);
  } else {
    dirs.emplace_back(std::move(dirname));
  }

  const bool magic = detail::has_magic(basename.string());
  // One compiled expression serves every directory of this expansion.
  std::optional<detail::name_matcher> matcher;
  if (magic && !tree) {
    matcher.emplace(basename.string());
  }
  path_list result;
  for (const auto& d : dirs) {
    path_list names = !magic ? glob0(d, basename)
                      : tree ? glob2(context, d, basename, dironly)
                             : matching_names(context, d, *matcher, dironly);
    for (auto& name : names) {
      if (!name.has_parent_path()) {
        result.push_back(d / name);
      } else {
        result.push_back(std::move(name));
      }
    }
  }
  return result;
}

// The expansion recurses once per directory level of the pattern. Every
// level but "**" adds at least one byte and a separator to any path it
// yields, so a pattern of more levels than half the system's path limit
// yields only paths too long to exist, and is not expanded at all.
bool names_only_overlong_paths(const std::string& pathname) {
  constexpr std::size_t kMaxLevels = 4096 / 2;
  std::size_t levels = 0;
  std::size_t start = 0;
  while (start <= pathname.size()) {
    std::size_t end = pathname.find('/', start);
    if (end == std::string::npos) end = pathname.size();
    const std::size_t length = end - start;
    if (length != 0 && pathname.compare(start, length, "**") != 0 && ++levels > kMaxLevels) return true;
    start = end + 1;
  }
  return false;
}

// One expansion with a context of its own: nothing read is kept from one
// call to the next.
path_list expand_one(const std::string& pathname, bool recursive) {
  if (names_only_overlong_paths(pathname)) return {};
  expansion_context context;
  return expand_pattern(context, pathname, recursive, false);
}

// Each pattern's expansion in order, appended one after the other.
path_list expand_each(const std::vector<std::string>& pathnames, bool recursive) {
  path_list result;
  for (const auto& pathname : pathnames) {
    auto found = expand_one(pathname, recursive);
    result.insert(result.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  }
  return result;
}

}  // namespace

std::vector<std::filesystem::path> glob(const std::string& pathname) { return expand_one(pathname, false); }

std::vector<std::filesystem::path> rglob(const std::string& pathname) { return expand_one(pathname, true); }

std::vector<std::filesystem::path> glob(const std::vector<std::string>& pathnames) {
  return expand_each(pathnames, false);
}

std::vector<std::filesystem::path> rglob(const std::vector<std::string>& pathnames) {
  return expand_each(pathnames, true);
}

std::vector<std::filesystem::path> glob(const std::initializer_list<std::string>& pathnames) {
  return glob(std::vector<std::string>(pathnames));
}

std::vector<std::filesystem::path> rglob(const std::initializer_list<std::string>& pathnames) {
  return rglob(std::vector<std::string>(pathnames));
}

}  // namespace glob
