// Wildcard expansion: pattern translation into regular expressions and the
// walk over the file system that applies them.
#include "glob/glob.h"

#include <cassert>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "glob/detail.h"

namespace glob {
namespace {

namespace fs = std::filesystem;
using path_list = std::vector<fs::path>;

// ---------------------------------------------------------------------------
// Pattern text

bool has_magic(const std::string& s) {
  static const std::regex magic_check("([*?[])");
  return std::regex_search(s, magic_check);
}

bool is_recursive(const std::string& pattern) { return pattern == "**"; }

void string_replace(std::string& str, const std::string& from, const std::string& to) {
  const auto start = str.find(from);
  if (start != std::string::npos) {
    str.replace(start, from.size(), to);
  }
}

// Puts a backslash before every `&`, `~` and `|`, which the expression engine
// could otherwise read as set operations.
std::string escape_set_operations(const std::string& stuff) {
  std::string out;
  out.reserve(stuff.size());
  for (char c : stuff) {
    if (c == '&' || c == '~' || c == '|') {
      out += '\\';
    }
    out += c;
  }
  return out;
}

// The members of a set with a `--` in it: the hyphens that form ranges split
// the text into chunks, and every other hyphen becomes a literal one.
std::string translate_set_difference(const std::string& pattern, std::size_t i, std::size_t j) {
  std::vector<std::string> chunks;
  std::size_t k = pattern[i] == '!' ? i + 2 : i + 1;
  for (;;) {
    const std::size_t p = pattern.find('-', k);
    if (p == std::string::npos || p >= j) {
      break;
    }
    chunks.push_back(pattern.substr(i, p - i));
    i = p + 1;
    k = p + 3;
  }
  chunks.push_back(pattern.substr(i, j - i));
  std::string stuff;
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    string_replace(chunks[c], "\\", "\\\\");
    string_replace(chunks[c], "-", "\\-");
    if (c > 0) {
      stuff += '-';
    }
    stuff += chunks[c];
  }
  return stuff;
}

std::string translate(const std::string& pattern) {
  static const std::string special_characters = "()[]{}?*+-|^$\\.&~# \t\n\r\v\f";
  // Filled once, before any caller can see it, with a backslash escape for
  // each character the expression engine treats specially.
  static const std::map<int, std::string> special_characters_map = [] {
    std::map<int, std::string> map;
    for (char c : special_characters) {
      map.emplace(static_cast<int>(c), std::string{'\\', c});
    }
    return map;
  }();

  const std::size_t n = pattern.size();
  std::string res;
  std::size_t i = 0;
  while (i < n) {
    const char c = pattern[i];
    ++i;
    if (c == '*') {
      res += ".*";
    } else if (c == '?') {
      res += ".";
    } else if (c == '[') {
      std::size_t j = i;
      if (j < n && pattern[j] == '!') {
        ++j;
      }
      if (j < n && pattern[j] == ']') {
        ++j;
      }
      while (j < n && pattern[j] != ']') {
        ++j;
      }
      if (j >= n) {
        res += "\\[";
        continue;
      }
      std::string stuff = pattern.substr(i, j - i);
      if (stuff.find("--") == std::string::npos) {
        string_replace(stuff, "\\", "\\\\");
      } else {
        stuff = translate_set_difference(pattern, i, j);
      }
      stuff = escape_set_operations(stuff);
      i = j + 1;
      const bool negated = stuff[0] == '!';
      std::string members = negated ? stuff.substr(1) : stuff;
      // A `]` first in the set is a member; escaped, it cannot close the class.
      if (!members.empty() && members[0] == ']') {
        members.insert(0, 1, '\\');
      }
      if (negated) {
        stuff = "^" + members;
      } else if (members[0] == '^' || members[0] == '[') {
        stuff = "\\\\" + members;
      } else {
        stuff = members;
      }
      res += "[";
      res += stuff;
      res += "]";
    } else if (special_characters.find(c) != std::string::npos) {
      res += special_characters_map.at(static_cast<int>(c));
    } else {
      res += c;
    }
  }
  return "((" + res + ")|[\\r\\n])$";
}

bool match_name(const std::string& name, const std::string& pattern) {
  const std::regex regex(translate(pattern));
  return std::regex_match(name, regex);
}

// One pattern component, compiled on the first name it is tested against and
// reused for every later name of the same expansion. Compiling lazily keeps
// the moment of a std::regex_error where it belongs: at the first test.
class name_matcher {
 public:
  explicit name_matcher(std::string pattern) : _pattern(std::move(pattern)) {}

  bool matches(const std::string& name) {
    if (!_regex) {
      _regex.emplace(translate(_pattern));
    }
    return std::regex_match(name, *_regex);
  }

 private:
  std::string _pattern;
  std::optional<std::regex> _regex;
};

// ---------------------------------------------------------------------------
// File system

bool is_hidden(const std::string& s) { return !s.empty() && s[0] == '.'; }

fs::path expand_tilde(fs::path path) {
  const char* home = std::getenv("HOME");
  if (home == nullptr) {
    throw std::invalid_argument("error: Unable to expand `~` - HOME environment variable not set.");
  }
  return fs::path(std::string(home) + path.string().substr(1));
}

// An entry of a directory listing: the path handed to callers, and the
// entry it came from, whose file type the listing already knows.
struct listed_entry {
  fs::path path;
  fs::directory_entry entry;
};

// Expresses the entries of one relative directory relative to the current
// directory, as std::filesystem::relative(entry) does, without resolving
// every entry from scratch. The directory is resolved once; an entry that is
// not a symbolic link then resolves to that directory plus its own name. The
// first plain entry and every symbolic link still go through relative(), so
// a failure to resolve them ends the listing just as it would otherwise, and
// the shortcut is used only once it agrees with relative().
class relative_namer {
 public:
  relative_namer(const fs::path& directory, const fs::path& canonical_directory)
      : _directory(directory), _resolved(canonical_directory) {}

  fs::path name(const fs::directory_entry& entry) {
    std::error_code ec;
    if (entry.is_symlink(ec) || ec || _mode == mode::exact) {
      return fs::relative(entry.path());
    }
    if (_mode == mode::unknown) {
      fs::path exact = fs::relative(entry.path());
      choose_mode();
      if (_mode != mode::exact && shortcut(entry.path().filename()) != exact) {
        _mode = mode::exact;
      }
      return exact;
    }
    return shortcut(entry.path().filename());
  }

 private:
  enum class mode { unknown, exact, below, lexical };

  void choose_mode() {
    std::error_code ec;
    if (_resolved.empty()) {
      _resolved = fs::canonical(_directory, ec);
    }
    if (!ec) {
      _cwd = fs::weakly_canonical(fs::current_path(ec), ec);
    }
    if (ec || _resolved.empty()) {
      _mode = mode::exact;
      return;
    }
    _prefix = _resolved.lexically_relative(_cwd);
    // Only when the directory is an ancestor of the current directory can an
    // entry's name meet a component of the current directory; otherwise the
    // relative path is the directory's own followed by the name.
    bool only_parents = true;
    for (const auto& element : _prefix) {
      if (element != "..") {
        only_parents = false;
        break;
      }
    }
    _mode = (only_parents && _prefix != ".") ? mode::lexical : mode::below;
    if (_prefix == ".") {
      _prefix.clear();
    }
  }

  fs::path shortcut(const fs::path& filename) const {
    if (_mode == mode::lexical) {
      return (_resolved / filename).lexically_relative(_cwd);
    }
    return _prefix.empty() ? filename : _prefix / filename;
  }

  fs::path _directory;
  fs::path _resolved;
  fs::path _cwd;
  fs::path _prefix;
  mode _mode = mode::unknown;
};

// The listing of iter_directory, keeping each entry beside its path.
// `canonical_directory` may be given when the caller knows the resolved
// directory already; empty means unknown.
std::vector<listed_entry> list_directory(const fs::path& dirname, bool dironly,
                                         const fs::path& canonical_directory = {}) {
  fs::path current = dirname;
  if (current.empty()) {
    current = fs::current_path();
  }
  std::vector<listed_entry> entries;
  if (!fs::exists(current)) {
    return entries;
  }
  const bool absolute = dirname.has_root_directory();
  try {
    relative_namer namer(current, canonical_directory);
    const auto options =
        fs::directory_options::follow_directory_symlink | fs::directory_options::skip_permission_denied;
    for (const auto& entry : fs::directory_iterator(current, options)) {
      if (dironly && !entry.is_directory()) {
        continue;
      }
      entries.push_back({absolute ? entry.path() : namer.name(entry), entry});
    }
  } catch (const std::exception&) {
    // An unreadable directory or entry ends the listing with what it has.
  }
  return entries;
}

path_list iter_directory(const fs::path& dirname, bool dironly) {
  path_list paths;
  for (auto& listed : list_directory(dirname, dironly)) {
    paths.push_back(std::move(listed.path));
  }
  return paths;
}

// The depth-first, pre-order walk of rlistdir. It remembers the resolved
// directories it is inside, so a symbolic link back to one of them is listed
// but not entered: the walk ends there instead of going round for ever.
class tree_walker {
 public:
  explicit tree_walker(bool dironly) : _dironly(dironly) {}

  path_list walk(const fs::path& dirname) {
    std::error_code ec;
    fs::path resolved = fs::canonical(dirname.empty() ? fs::current_path() : dirname, ec);
    if (ec) {
      resolved.clear();
    }
    path_list out;
    walk(dirname, resolved, out);
    return out;
  }

 private:
  void walk(const fs::path& dirname, const fs::path& resolved, path_list& out) {
    if (!resolved.empty()) {
      _inside.push_back(resolved.native());
    }
    for (const auto& listed : list_directory(dirname, _dironly, resolved)) {
      if (is_hidden(listed.path.native())) {
        continue;
      }
      out.push_back(listed.path);
      descend(listed, resolved, out);
    }
    if (!resolved.empty()) {
      _inside.pop_back();
    }
  }

  void descend(const listed_entry& listed, const fs::path& parent, path_list& out) {
    std::error_code ec;
    // Anything but a directory lists nothing; a status that cannot be read is
    // left to the listing, which reports it.
    if (!listed.entry.is_directory(ec) && !ec) {
      return;
    }
    fs::path resolved;
    if (!ec && !parent.empty() && !listed.entry.is_symlink(ec) && !ec) {
      resolved = parent / listed.entry.path().filename();
    } else {
      resolved = fs::canonical(listed.entry.path(), ec);
      if (ec) {
        resolved.clear();
      }
    }
    if (!resolved.empty()) {
      for (const auto& inside : _inside) {
        if (inside == resolved.native()) {
          return;
        }
      }
    }
    walk(listed.path, resolved, out);
  }

  bool _dironly;
  std::vector<std::string> _inside;
};

path_list rlistdir(const fs::path& dirname, bool dironly) { return tree_walker(dironly).walk(dirname); }

// The names of one directory that match a component, bare file names.
path_list matching_names(const fs::path& dirname, name_matcher& matcher, bool dironly) {
  path_list names;
  for (const auto& listed : list_directory(dirname, dironly)) {
    if (is_hidden(listed.path.native())) {
      continue;
    }
    fs::path name = listed.path.filename();
    if (matcher.matches(name.native())) {
      names.push_back(std::move(name));
    }
  }
  return names;
}

path_list glob0(const fs::path& dirname, const fs::path& basename, bool /*dironly*/) {
  if (basename.empty()) {
    if (fs::is_directory(dirname)) {
      return {basename};
    }
  } else if (fs::exists(dirname / basename)) {
    return {basename};
  }
  return {};
}

path_list glob1(const fs::path& dirname, const fs::path& pattern, bool dironly) {
  name_matcher matcher(pattern.string());
  return matching_names(dirname, matcher, dironly);
}

path_list glob2(const fs::path& dirname, const fs::path& pattern, bool dironly) {
  assert(is_recursive(pattern.string()));
  (void)pattern;
  return rlistdir(dirname, dironly);
}

using component_function = std::function<path_list(const fs::path&, const fs::path&, bool)>;

path_list glob(const fs::path& pathname, bool recursive, bool dironly) {
  const std::string text = pathname.string();
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
  const fs::path dirname = path.parent_path();
  const fs::path basename = path.filename();

  if (!has_magic(text)) {
    assert(!dironly);
    if (!basename.empty() && fs::exists(path)) {
      return {path};
    }
    if (basename.empty() && fs::is_directory(dirname)) {
      return {path};
    }
    return {};
  }

  if (dirname.empty()) {
    if (recursive && is_recursive(basename.string())) {
      return glob2(dirname, basename, dironly);
    }
    return glob1(dirname, basename, dironly);
  }

  path_list dirs;
  if (dirname != fs::path(text) && has_magic(dirname.string())) {
    dirs = glob(dirname, recursive, true);
  } else {
    dirs = {dirname};
  }

  component_function names_in;
  if (has_magic(basename.string())) {
    if (recursive && is_recursive(basename.string())) {
      names_in = glob2;
    } else {
      // One compiled expression serves every directory of this expansion.
      auto matcher = std::make_shared<name_matcher>(basename.string());
      names_in = [matcher](const fs::path& d, const fs::path&, bool only_dirs) {
        return matching_names(d, *matcher, only_dirs);
      };
    }
  } else {
    names_in = glob0;
  }

  path_list result;
  for (const auto& d : dirs) {
    for (auto& name : names_in(d, basename, dironly)) {
      if (name.parent_path().empty()) {
        result.push_back(d / name);
      } else {
        result.push_back(std::move(name));
      }
    }
  }
  return result;
}

// Reaches the expansion above from places where the public `glob` overloads
// would hide it.
path_list expand(const fs::path& pathname, bool recursive, bool dironly) { return glob(pathname, recursive, dironly); }

}  // namespace

std::vector<std::filesystem::path> glob(const std::string& pathname) {
  return glob(std::filesystem::path(pathname), false, false);
}

std::vector<std::filesystem::path> rglob(const std::string& pathname) {
  return glob(std::filesystem::path(pathname), true, false);
}

std::vector<std::filesystem::path> glob(const std::vector<std::string>& pathnames) {
  std::vector<std::filesystem::path> result;
  for (const auto& pathname : pathnames) {
    auto found = glob(pathname);
    result.insert(result.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  }
  return result;
}

std::vector<std::filesystem::path> rglob(const std::vector<std::string>& pathnames) {
  std::vector<std::filesystem::path> result;
  for (const auto& pathname : pathnames) {
    auto found = rglob(pathname);
    result.insert(result.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  }
  return result;
}

std::vector<std::filesystem::path> glob(const std::initializer_list<std::string>& pathnames) {
  return glob(std::vector<std::string>(pathnames));
}

std::vector<std::filesystem::path> rglob(const std::initializer_list<std::string>& pathnames) {
  return rglob(std::vector<std::string>(pathnames));
}

namespace detail {

bool has_magic(const std::string& s) { return ::glob::has_magic(s); }
bool is_recursive(const std::string& pattern) { return ::glob::is_recursive(pattern); }
std::string translate(const std::string& pattern) { return ::glob::translate(pattern); }
bool match_name(const std::string& name, const std::string& pattern) { return ::glob::match_name(name, pattern); }
void string_replace(std::string& str, const std::string& from, const std::string& to) {
  ::glob::string_replace(str, from, to);
}
bool is_hidden(const std::string& s) { return ::glob::is_hidden(s); }
std::filesystem::path expand_tilde(std::filesystem::path path) { return ::glob::expand_tilde(std::move(path)); }

path_list glob(const std::filesystem::path& pathname, bool recursive, bool dironly) {
  return ::glob::expand(pathname, recursive, dironly);
}
path_list glob0(const std::filesystem::path& dirname, const std::filesystem::path& basename, bool dironly) {
  return ::glob::glob0(dirname, basename, dironly);
}
path_list glob1(const std::filesystem::path& dirname, const std::filesystem::path& pattern, bool dironly) {
  return ::glob::glob1(dirname, pattern, dironly);
}
path_list glob2(const std::filesystem::path& dirname, const std::filesystem::path& pattern, bool dironly) {
  return ::glob::glob2(dirname, pattern, dironly);
}
path_list iter_directory(const std::filesystem::path& dirname, bool dironly) {
  return ::glob::iter_directory(dirname, dironly);
}
path_list rlistdir(const std::filesystem::path& dirname, bool dironly) { return ::glob::rlistdir(dirname, dironly); }

}  // namespace detail
}  // namespace glob
