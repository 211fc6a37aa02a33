// Wildcard expansion: pattern translation into regular expressions and the
// walk over the file system that applies them.
#include "glob/glob.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "glob/detail.h"

namespace glob {
namespace {

namespace fs = std::filesystem;
using path_list = std::vector<fs::path>;

// ---------------------------------------------------------------------------
// Pattern text

bool has_magic(const std::string& s) { return s.find_first_of("*?[") != std::string::npos; }

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

// Where the set whose members start at `from` (just past its `[`) ends: the
// index of its closing `]`, or the text's size when it has none. A `!` and
// then a `]` first in the set are members, not its end.
std::size_t set_end(const std::string& pattern, std::size_t from) {
  const std::size_t n = pattern.size();
  std::size_t j = from;
  if (j < n && pattern[j] == '!') ++j;
  if (j < n && pattern[j] == ']') ++j;
  while (j < n && pattern[j] != ']') ++j;
  return j;
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
      const std::size_t j = set_end(pattern, i);
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

// Compiles a translated pattern. libstdc++'s default executor backtracks,
// exponentially in the number of stars when a name nearly matches (seconds
// to minutes for a pattern such as *[ab]*[ab]*[ab]*[ab]*c); its breadth-first
// executor gives the same whole-name result in polynomial time. A translated
// pattern never holds a back-reference, which that executor cannot run.
std::regex compile(const std::string& translated) {
#ifdef __GLIBCXX__
  return std::regex(translated, std::regex::ECMAScript | std::regex_constants::__polynomial);
#else
  return std::regex(translated);
#endif
}

// The longest file name the system allows (NAME_MAX on Linux and macOS).
constexpr std::size_t longest_name = 255;

// What matching needs to know of a pattern component, read the way
// translate() reads it.
struct component_shape {
  std::string pattern;        // runs of `*` outside sets made one `*`: the same names match
  bool has_set = false;       // some `[` opens a set
  std::size_t min_bytes = 0;  // the shortest name it can match, apart from a lone line break
};

component_shape shape_of(const std::string& pattern) {
  component_shape shape;
  shape.pattern.reserve(pattern.size());
  const std::size_t n = pattern.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = pattern[i];
    if (c == '*') {
      // A set ends in `]`, so a `*` last in the text is a wildcard.
      if (shape.pattern.empty() || shape.pattern.back() != '*') {
        shape.pattern += c;
      }
      ++i;
      continue;
    }
    ++shape.min_bytes;
    std::size_t end = i + 1;
    if (c == '[') {
      const std::size_t j = set_end(pattern, i + 1);
      if (j < n) {
        shape.has_set = true;
        end = j + 1;
      }
    }
    shape.pattern.append(pattern, i, end - i);
    i = end;
  }
  return shape;
}

// Matches a name against a pattern of literal bytes, `*` and `?` only, for a
// name without carriage return or line feed: there the translated expression
// reads `*` as any run of bytes, `?` as any one byte and every other byte as
// itself, and this is what it computes. It takes time proportional to the
// lengths' product at worst, where the expression engine backtracks
// exponentially in the number of stars.
bool wildcard_match(const std::string& name, const std::string& pattern) {
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t star = std::string::npos;
  std::size_t resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      // Let the last star take one more byte and try again from there.
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

// One pattern component, compiled when a name first needs the expression and
// reused for every later name of the same expansion. Compiling lazily keeps
// the moment of a std::regex_error where it belongs: at the first test.
// Patterns without sets, tested against names without line breaks, are
// matched directly, with the result the expression would give.
//
// The expression compiler recurses once per term, so a long component could
// exhaust the stack. A component that needs more bytes than any name can
// hold matches only what every pattern matches, a lone line break, and is
// never compiled; otherwise its runs of stars are collapsed, which leaves at
// most a few hundred terms.
class name_matcher {
 public:
  explicit name_matcher(const std::string& pattern) : _shape(shape_of(pattern)) {}

  bool matches(const std::string& name) {
    if (_shape.min_bytes > longest_name) {
      return name == "\r" || name == "\n";
    }
    if (!_shape.has_set && name.find_first_of("\r\n") == std::string::npos) {
      return wildcard_match(name, _shape.pattern);
    }
    if (!_regex) {
      _regex.emplace(compile(translate(_shape.pattern)));
    }
    return std::regex_match(name, *_regex);
  }

 private:
  component_shape _shape;
  std::optional<std::regex> _regex;
};

bool match_name(const std::string& name, const std::string& pattern) { return name_matcher(pattern).matches(name); }

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

// What a listing keeps of one entry. Most listed paths are the listed
// directory, or for a relative listing one fixed prefix, followed by the
// entry's name; for those only the name is kept and the whole path is made
// when it is asked for. A path that had to be resolved on its own is kept.
struct listed_entry {
  std::string name;                  // file name of the listed path
  std::optional<fs::path> resolved;  // the whole listed path, if not made from the name
  bool link = false;                 // the entry is a symbolic link
  std::optional<bool> directory;     // whether it is a directory (following links), if known
  std::optional<bool> hidden;        // decided apart from the listed path's text (links)
};

// What reading a directory gives before any rule is applied: each entry's
// name and what the read already tells of its type.
struct raw_entry {
  std::string name;
  bool link = false;              // a symbolic link, or unknown whether it is one
  std::optional<bool> directory;  // for entries that are not links, when the read knows
};

struct raw_listing {
  std::vector<raw_entry> entries;  // in the order the operating system gives them
  bool opened = true;              // false: the directory could not be opened
  bool complete = true;            // false: an error ended the read early
  int examine_error = 0;           // errno of reading the first entry's status, 0 if none
};

// Reads one directory, as std::filesystem::directory_iterator with
// skip_permission_denied would list it: no "." or "..", a directory that
// cannot be opened for lack of permission reads as empty, and any other error
// ends the read with what it has. It reads the directory through the POSIX
// calls that iterator uses, without building a path for every entry.
raw_listing read_directory(const fs::path& directory) {
  raw_listing raw;
  raw.entries.reserve(32);
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), &::closedir);
  if (!dir) {
    raw.opened = false;
    raw.complete = errno == EACCES;
    return raw;
  }
  for (;;) {
    errno = 0;
    const dirent* found = ::readdir(dir.get());
    if (found == nullptr) {
      raw.complete = errno == 0;
      return raw;
    }
    const char* name = found->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
      continue;
    }
    raw_entry read;
    read.name = name;
    struct stat status {};
    // Whether entries can be examined at all (the directory may be readable
    // but not searchable) shows in the first one.
    if (raw.entries.empty() && ::fstatat(::dirfd(dir.get()), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      raw.examine_error = errno;
    }
    switch (found->d_type) {
      case DT_LNK:
        read.link = true;
        break;
      case DT_DIR:
        read.directory = true;
        break;
      case DT_UNKNOWN: {
        // The file system does not say: ask, without following a link.
        if (::fstatat(::dirfd(dir.get()), name, &status, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(status.st_mode)) {
          read.link = true;
        } else {
          read.directory = S_ISDIR(status.st_mode);
        }
        break;
      }
      default:
        read.directory = false;
        break;
    }
    raw.entries.push_back(std::move(read));
  }
}

// The directories read during one expansion, by path text. A pattern such as
// dir/**/*.h lists every directory twice, once to find the directories below
// and once to match the names in each; the second listing reuses the first
// read. Only complete reads are kept. The current directory does not change
// during an expansion, so it is resolved once, and so is every directory.
class listing_cache {
 public:
  // The current directory resolved, read once per expansion; empty when it
  // cannot be resolved.
  const fs::path& resolved_cwd() {
    if (!_cwd_read) {
      std::error_code ec;
      _cwd = fs::weakly_canonical(fs::current_path(ec), ec);
      if (ec) {
        _cwd.clear();
      }
      _cwd_read = true;
    }
    return _cwd;
  }

  // Resolved directories by path text, as far as they are known.
  void remember(const fs::path& directory, const fs::path& resolved) {
    if (!resolved.empty()) {
      _resolved.emplace(directory.native(), resolved);
    }
  }
  fs::path resolved(const fs::path& directory) const {
    const auto found = _resolved.find(directory.native());
    return found == _resolved.end() ? fs::path() : found->second;
  }

  // The read of `directory` kept earlier, or null.
  std::shared_ptr<const raw_listing> find(const fs::path& directory) const {
    const auto found = _listings.find(directory.native());
    return found == _listings.end() ? nullptr : found->second;
  }

  std::shared_ptr<const raw_listing> read(const fs::path& directory) {
    if (auto found = find(directory)) {
      return found;
    }
    auto raw = std::make_shared<const raw_listing>(read_directory(directory));
    if (raw->complete) {
      _listings.emplace(directory.native(), raw);
    }
    return raw;
  }

 private:
  std::unordered_map<std::string, std::shared_ptr<const raw_listing>> _listings;
  std::unordered_map<std::string, fs::path> _resolved;
  fs::path _cwd;
  bool _cwd_read = false;
};

// The cache of the expansion running on this thread, if any.
thread_local listing_cache* active_listing_cache = nullptr;

// Gives the expansions begun while it lives one cache, and drops it at the
// end, so that nothing read is kept from one call to the next.
class expansion_scope {
 public:
  expansion_scope() : _owner(active_listing_cache == nullptr) {
    if (_owner) {
      active_listing_cache = &_cache;
    }
  }
  ~expansion_scope() {
    if (_owner) {
      active_listing_cache = nullptr;
    }
  }
  expansion_scope(const expansion_scope&) = delete;
  expansion_scope& operator=(const expansion_scope&) = delete;

 private:
  bool _owner;
  listing_cache _cache;
};

std::shared_ptr<const raw_listing> read_listing(const fs::path& directory) {
  if (active_listing_cache != nullptr) {
    return active_listing_cache->read(directory);
  }
  return std::make_shared<const raw_listing>(read_directory(directory));
}

// Names the entries of one relative directory relative to the current
// directory, as std::filesystem::relative(entry) does, without resolving every
// entry from scratch. The directory and the current directory are resolved
// once; an entry that is not a symbolic link then resolves to the directory
// plus its own name. Very long paths and listings where the shortcut would
// not hold still go through relative(). The first entry's status is read as
// relative() would read it, so that a directory whose entries cannot be
// examined ends its listing just as it would otherwise.
//
// A symbolic link keeps its own name in the directory: named after what it
// resolves to, `sub/*` over `sub/lg -> ../deep/g` would give `sub/g`, another
// file or none. What it resolves to still decides whether it is hidden, and
// a link that cannot be resolved still ends the listing.
class relative_namer {
 public:
  // `directory` must outlive the namer. `is_own_prefix` says that the
  // directory's path is already its resolved path relative to the current
  // directory (an entry of a listing named by prefix, not a link).
  relative_namer(const fs::path& directory, const fs::path& canonical_directory, bool is_own_prefix)
      : _directory(directory), _resolved(canonical_directory), _is_own_prefix(is_own_prefix) {}

  // What the read of the directory met when it examined an entry.
  void set_examine_error(int error) { _examine_error = error; }

  // Whether entries that are not links are named by the prefix.
  bool names_by_prefix() const { return _mode == mode::below; }

  // Fills in `listed`, an entry of the directory whose `name` holds its own
  // name.
  void name(listed_entry& listed) {
    if (_mode == mode::unknown) {
      choose_mode();
    }
    if (listed.link) {
      listed.hidden = is_hidden(fs::relative(_directory / listed.name).native());
      if (_mode == mode::exact) {
        listed.resolved = own_path(listed.name);
      }
      return;
    }
    if (_mode == mode::exact || too_long(listed.name)) {
      keep(fs::relative(_directory / listed.name), listed);
      return;
    }
    if (!_examined) {
      // As reading its status would fail; a missing entry is no error.
      if (_examine_error != 0 && _examine_error != ENOENT && _examine_error != ENOTDIR) {
        throw fs::filesystem_error("status", _directory / listed.name,
                                   std::error_code(_examine_error, std::generic_category()));
      }
      _examined = true;
    }
  }

  // The listed path of an entry kept by name only.
  fs::path path(const std::string& name) const { return _prefix.empty() ? fs::path(name) : _prefix / name; }
  // The text every path kept by name begins with: the prefix, or the name.
  const std::string& start(const std::string& name) const { return _prefix.empty() ? name : _prefix.native(); }

 private:
  enum class mode { unknown, exact, below };

  // The path of the entry `name` itself, its link not followed, relative to
  // the current directory, where the prefix cannot serve.
  fs::path own_path(const std::string& name) {
    if (!_directory_relative) {
      _directory_relative = fs::relative(_directory);
    }
    return *_directory_relative == "." ? fs::path(name) : *_directory_relative / name;
  }

  static void keep(fs::path path, listed_entry& listed) {
    listed.name = path.filename().native();
    listed.resolved = std::move(path);
  }

  // Paths near the system's limit may fail to resolve one by one.
  bool too_long(const std::string& name) const {
    const std::size_t longest = std::max(_directory.native().size(), _resolved.native().size());
    return longest + name.size() + 2 >= PATH_MAX;
  }

  void choose_mode() {
    if (_is_own_prefix && !_resolved.empty()) {
      // Deriving it again would cost time in proportion to the depth.
      _prefix = _directory;
      _mode = mode::below;
      return;
    }
    _mode = mode::exact;
    std::error_code ec;
    if (_resolved.empty() && active_listing_cache != nullptr) {
      _resolved = active_listing_cache->resolved(_directory);
    }
    if (_resolved.empty()) {
      _resolved = fs::canonical(_directory, ec);
      if (ec) {
        return;
      }
      if (active_listing_cache != nullptr) {
        active_listing_cache->remember(_directory, _resolved);
      }
    }
    fs::path cwd;
    if (active_listing_cache != nullptr) {
      cwd = active_listing_cache->resolved_cwd();
    } else {
      cwd = fs::weakly_canonical(fs::current_path(ec), ec);
    }
    if (ec || cwd.empty() || _resolved.empty()) {
      return;
    }
    _prefix = _resolved.lexically_relative(cwd);
    // When the directory is an ancestor of the current one, an entry's name
    // may meet a component of the current directory and the relative path is
    // not prefix + name; such listings resolve every entry. Otherwise the
    // relative path is the directory's own followed by the name.
    bool only_parents = true;
    for (const auto& element : _prefix) {
      if (element != "..") {
        only_parents = false;
        break;
      }
    }
    if (_prefix == ".") {
      _prefix.clear();
      _mode = mode::below;
    } else if (!only_parents) {
      _mode = mode::below;
    }
  }

  const fs::path& _directory;
  fs::path _resolved;
  fs::path _prefix;
  std::optional<fs::path> _directory_relative;  // relative() of the directory, once asked for
  bool _is_own_prefix;
  mode _mode = mode::unknown;
  bool _examined = false;
  int _examine_error = 0;
};

// The listing of one directory, as iter_directory specifies it.
// `canonical_directory` may be given when the caller knows the resolved
// directory already; empty means unknown. `is_own_prefix` as for
// relative_namer.
class directory_listing {
 public:
  directory_listing(const fs::path& dirname, bool dironly, const fs::path& canonical_directory = {},
                    bool is_own_prefix = false)
      : _current(dirname.empty() ? fs::current_path() : dirname),
        _absolute(dirname.has_root_directory()),
        _dironly(dironly) {
    if (!_absolute) {
      _namer.emplace(_current, canonical_directory, is_own_prefix);
    }
    // A directory read earlier in this expansion is known to exist.
    if (active_listing_cache != nullptr) {
      _raw = active_listing_cache->find(_current);
    }
    if (!_raw) {
      _raw = read_listing(_current);
      // A directory that opens exists; for one that does not, the existence
      // test still runs for the status errors it reports.
      if (!_raw->opened) {
        (void)fs::exists(_current);
      }
    }
    if (_namer) {
      _namer->set_examine_error(_raw->examine_error);
    }
  }

  // Whether the entries named so far that are not links were named as the
  // directory's resolved path relative to the current one plus their name.
  bool names_by_prefix() const { return _namer && _namer->names_by_prefix(); }

  directory_listing(const directory_listing&) = delete;
  directory_listing& operator=(const directory_listing&) = delete;

  // Hands each listed entry to `visit`, in order. An entry that cannot be
  // resolved ends the listing with what it has; what `visit` throws passes.
  template <typename Visit>
  void for_each(Visit&& visit) {
    if (!_raw) {
      return;
    }
    for (const auto& read : _raw->entries) {
      listed_entry listed;
      try {
        // Types the read could not tell are asked for here, with the same
        // failures as the listing's own entry would give.
        if (_dironly && !(read.directory ? *read.directory : fs::is_directory(_current / read.name))) {
          continue;
        }
        listed.name = read.name;
        listed.link = read.link;
        listed.directory = _dironly ? std::optional<bool>(true) : read.directory;
        if (_namer) {
          _namer->name(listed);
        }
      } catch (const std::exception&) {
        return;
      }
      visit(listed);
    }
  }

  // All listed entries, in order.
  std::vector<listed_entry> entries() {
    std::vector<listed_entry> all;
    for_each([&all](listed_entry& listed) { all.push_back(std::move(listed)); });
    return all;
  }

  // The path iter_directory gives for the entry.
  fs::path path(const listed_entry& listed) const {
    if (listed.resolved) {
      return *listed.resolved;
    }
    return _namer ? _namer->path(listed.name) : _current / listed.name;
  }

  // Whether the text of that path begins with a dot.
  bool hidden(const listed_entry& listed) const {
    if (listed.hidden) {
      return *listed.hidden;
    }
    if (listed.resolved) {
      return is_hidden(listed.resolved->native());
    }
    return is_hidden(_namer ? _namer->start(listed.name) : _current.native());
  }

 private:
  fs::path _current;
  bool _absolute;
  bool _dironly;
  std::optional<relative_namer> _namer;  // relative listings only; refers to _current
  std::shared_ptr<const raw_listing> _raw;
};

path_list iter_directory(const fs::path& dirname, bool dironly) {
  directory_listing listing(dirname, dironly);
  path_list paths;
  listing.for_each([&](const listed_entry& listed) { paths.push_back(listing.path(listed)); });
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
    walk(dirname, resolved, false, out);
    return out;
  }

 private:
  // Each directory's resolved path, and in a relative walk its path relative
  // to the current directory, follow from its parent's unless it is a link,
  // so the walk costs no more per directory at depth than near the top.
  void walk(const fs::path& dirname, const fs::path& resolved, bool is_own_prefix, path_list& out) {
    if (active_listing_cache != nullptr && !dirname.empty()) {
      active_listing_cache->remember(dirname, resolved);
    }
    directory_listing listing(dirname, _dironly, resolved, is_own_prefix);
    if (!resolved.empty()) {
      _inside.push_back(resolved.native());
    }
    const std::vector<listed_entry> entries = listing.entries();
    const bool by_prefix = listing.names_by_prefix();
    for (const auto& listed : entries) {
      if (listing.hidden(listed)) {
        continue;
      }
      out.push_back(listing.path(listed));
      descend(listed, out.back(), resolved, by_prefix && !listed.link && !listed.resolved, out);
    }
    if (!resolved.empty()) {
      _inside.pop_back();
    }
  }

  // Walks below one listed entry. Anything but a directory would list
  // nothing, so it is not opened; a status that cannot be read is left to the
  // listing, which reports it.
  void descend(const listed_entry& listed, fs::path path, const fs::path& parent, bool is_own_prefix, path_list& out) {
    std::error_code ec;
    const bool directory = listed.directory ? *listed.directory : fs::is_directory(path, ec);
    if (!directory && !ec) {
      return;
    }
    fs::path resolved;
    if (!listed.link && !parent.empty() && !ec) {
      resolved = parent / listed.name;
    } else {
      resolved = fs::canonical(path, ec);
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
    walk(path, resolved, is_own_prefix && !resolved.empty(), out);
  }

  bool _dironly;
  std::vector<std::string> _inside;
};

path_list rlistdir(const fs::path& dirname, bool dironly) { return tree_walker(dironly).walk(dirname); }

// The names of one directory that match a component, as bare file names.
path_list matching_names(const fs::path& dirname, name_matcher& matcher, bool dironly) {
  directory_listing listing(dirname, dironly);
  path_list names;
  listing.for_each([&](const listed_entry& listed) {
    if (!listing.hidden(listed) && matcher.matches(listed.name)) {
      names.emplace_back(listed.name);
    }
  });
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

namespace {

// The expansion recurses once per directory level of the pattern, holding a
// copy of the pattern at each level. Every level but "**" adds at least one
// byte and a separator to any path it yields, so a pattern of more levels
// than half the system's path limit yields only paths too long to exist, and
// is not expanded at all.
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

}  // namespace

std::vector<std::filesystem::path> glob(const std::string& pathname) {
  if (names_only_overlong_paths(pathname)) return {};
  const expansion_scope scope;
  return glob(std::filesystem::path(pathname), false, false);
}

std::vector<std::filesystem::path> rglob(const std::string& pathname) {
  if (names_only_overlong_paths(pathname)) return {};
  const expansion_scope scope;
  return glob(std::filesystem::path(pathname), true, false);
}

namespace {

// Each pattern's expansion in order, appended one after the other.
template <typename Expand>
std::vector<std::filesystem::path> expand_each(const std::vector<std::string>& pathnames, Expand expand) {
  std::vector<std::filesystem::path> result;
  for (const auto& pathname : pathnames) {
    auto found = expand(pathname);
    result.insert(result.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  }
  return result;
}

}  // namespace

std::vector<std::filesystem::path> glob(const std::vector<std::string>& pathnames) {
  return expand_each(pathnames, [](const std::string& pathname) { return glob(pathname); });
}

std::vector<std::filesystem::path> rglob(const std::vector<std::string>& pathnames) {
  return expand_each(pathnames, [](const std::string& pathname) { return rglob(pathname); });
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
