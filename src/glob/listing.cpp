// The listing of one directory and the relative names of its entries.
#include "glob/detail/listing.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>

namespace glob::detail {

namespace fs = std::filesystem;

namespace {

// resolved.lexically_relative(cwd) as text. Both are resolved paths, without
// "." or ".." elements or doubled separators, so below the current directory
// the relative path is the rest of the text.
std::string relative_text(const std::string& resolved, const std::string& cwd) {
  if (resolved == cwd) {
    return ".";
  }
  if (cwd == "/") {
    if (resolved.size() > 1 && resolved[0] == '/' && resolved[1] != '/') {
      return resolved.substr(1);
    }
  } else if (!cwd.empty() && cwd.back() != '/' && resolved.size() > cwd.size() + 1 &&
             resolved.compare(0, cwd.size(), cwd) == 0 && resolved[cwd.size()] == '/') {
    return resolved.substr(cwd.size() + 1);
  }
  return fs::path(resolved).lexically_relative(cwd).native();
}

// Whether every element of a relative path is "..", as for "../..".
bool only_parents(const std::string& path) {
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") != 0) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

void keep(const fs::path& path, listed_entry& listed) {
  listed.name = path.filename().native();
  listed.resolved = path.native();
}

}  // namespace

bool is_hidden(const std::string& s) { return !s.empty() && s[0] == '.'; }

std::string join(const std::string& directory, const std::string& name) {
  if (directory.empty()) {
    return name;
  }
  std::string path;
  path.reserve(directory.size() + 1 + name.size());
  path += directory;
  if (directory.back() != '/') {
    path += '/';
  }
  path += name;
  return path;
}

void relative_namer::name(listed_entry& listed) {
  if (_mode == mode::unknown) {
    choose_mode();
  }
  if (listed.link) {
    listed.hidden = is_hidden(fs::relative(join(_directory, listed.name)).native());
    if (_mode == mode::exact) {
      listed.resolved = own_path(listed.name);
    }
    return;
  }
  if (_mode == mode::exact) {
    keep(fs::relative(join(_directory, listed.name)), listed);
    return;
  }
  if (too_long(listed.name)) {
    // relative() reads the status of the path as given, then resolves it;
    // for an entry that is not a link either fails exactly when its text is
    // longer than the system accepts.
    const std::string given = join(_directory, listed.name);
    if (given.size() >= PATH_MAX || _resolved.size() + 1 + listed.name.size() >= PATH_MAX) {
      throw fs::filesystem_error("status", given, std::make_error_code(std::errc::filename_too_long));
    }
  }
  if (!_examined) {
    // As reading its status would fail; a missing entry is no error.
    if (_examine_error != 0 && _examine_error != ENOENT && _examine_error != ENOTDIR) {
      throw fs::filesystem_error("status", join(_directory, listed.name),
                                 std::error_code(_examine_error, std::generic_category()));
    }
    _examined = true;
  }
}

// The path of the entry `name` itself, its link not followed, relative to
// the current directory, where the prefix cannot serve.
std::string relative_namer::own_path(const std::string& name) {
  if (!_directory_relative) {
    _directory_relative = fs::relative(_directory).native();
  }
  return *_directory_relative == "." ? name : join(*_directory_relative, name);
}

// Whether the entry's path may be too long for the system to resolve.
bool relative_namer::too_long(const std::string& name) const {
  const std::size_t longest = std::max(_directory.size(), _resolved.size());
  return longest + name.size() + 2 >= PATH_MAX;
}

void relative_namer::choose_mode() {
  if (_is_own_prefix && !_resolved.empty()) {
    // Deriving it again would cost time in proportion to the depth.
    _prefix = _directory;
    _mode = mode::below;
    return;
  }
  _mode = mode::exact;
  if (_resolved.empty()) {
    _resolved = _context.resolved(_directory);
  }
  if (_resolved.empty()) {
    std::error_code ec;
    const fs::path resolved = fs::canonical(_directory, ec);
    if (ec) {
      return;
    }
    _resolved = resolved.native();
    _context.remember(_directory, _resolved);
  }
  const std::string& cwd = _context.resolved_cwd();
  if (cwd.empty() || _resolved.empty()) {
    return;
  }
  _prefix = relative_text(_resolved, cwd);
  // When the directory is an ancestor of the current one, an entry's name
  // may meet a component of the current directory and the relative path is
  // not prefix + name; such listings resolve every entry. Otherwise the
  // relative path is the directory's own followed by the name.
  if (_prefix == ".") {
    _prefix.clear();
    _mode = mode::below;
  } else if (!only_parents(_prefix)) {
    _mode = mode::below;
  }
}

directory_listing::directory_listing(expansion_context& context, const std::string& dirname, bool dironly,
                                     const std::string& canonical_directory, bool is_own_prefix, int fd)
    : _current(dirname.empty() ? fs::current_path().native() : dirname),
      _absolute(!dirname.empty() && dirname[0] == '/'),
      _dironly(dironly) {
  if (!_absolute) {
    _namer.emplace(context, _current, canonical_directory, is_own_prefix);
  }
  // A directory read earlier in this expansion is known to exist.
  _raw = context.find(_current);
  if (!_raw) {
    _raw = context.read(_current, fd);
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

bool directory_listing::describe(const raw_entry& read, listed_entry& listed) {
  try {
    // Types the read could not tell are asked for here, with the same
    // failures as the listing's own entry would give.
    if (_dironly && !(read.directory ? *read.directory : fs::is_directory(join(_current, read.name)))) {
      return true;
    }
    listed.name = read.name;
    listed.entry = &read.name;
    listed.link = read.link;
    listed.directory = _dironly ? std::optional<bool>(true) : read.directory;
    if (_namer) {
      _namer->name(listed);
    }
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

std::vector<listed_entry> directory_listing::entries() {
  std::vector<listed_entry> all;
  for_each([&all](listed_entry& listed) { all.push_back(std::move(listed)); });
  return all;
}

const std::string& directory_listing::resolved_directory() const {
  static const std::string unknown;
  return _namer ? _namer->resolved() : unknown;
}

std::string directory_listing::path(const listed_entry& listed) const {
  if (listed.resolved) {
    return *listed.resolved;
  }
  return _namer ? _namer->path(listed.name) : join(_current, listed.name);
}

bool directory_listing::hidden(const listed_entry& listed) const {
  if (listed.hidden) {
    return *listed.hidden;
  }
  if (listed.resolved) {
    return is_hidden(*listed.resolved);
  }
  return is_hidden(_namer ? _namer->start(listed.name) : _current);
}

path_list iter_directory(expansion_context& context, const fs::path& dirname, bool dironly) {
  directory_listing listing(context, dirname.native(), dironly);
  path_list paths;
  listing.for_each([&](const listed_entry& listed) { paths.emplace_back(listing.path(listed)); });
  return paths;
}

}  // namespace glob::detail
