// The listing of one directory, as the expansion names its entries.
//
// An absolute directory's entries are the directory followed by each name. A
// relative directory's entries are named as std::filesystem::relative names
// them, relative to the current directory, except that a symbolic link keeps
// its own name in the listed directory (what it resolves to still decides
// whether it is hidden). Entries that are not links are named by the
// directory's resolved path and their name, without resolving each one.
//
// Failures: where an entry's status or resolved path cannot be read, the
// listing ends there with what it has; a directory that cannot be opened is
// listed as empty, after an existence test whose status errors
// (std::filesystem::filesystem_error) leave the library.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "glob/detail/directory_reader.h"

namespace glob::detail {

using path_list = std::vector<std::filesystem::path>;

// True when the text begins with ".".
bool is_hidden(const std::string& s);

// `directory` / `name` as std::filesystem::path appends a relative name.
std::string join(const std::string& directory, const std::string& name);

// What a listing keeps of one entry. Most listed paths are the listed
// directory, or for a relative listing one fixed prefix, followed by the
// entry's name; for those only the name is kept and the whole path is made
// when it is asked for. A path that had to be resolved on its own is kept.
struct listed_entry {
  std::string name;                     // file name of the listed path
  const std::string* entry = nullptr;   // the name in the directory itself
  std::optional<std::string> resolved;  // the whole listed path, if not made from the name
  bool link = false;                    // the entry is a symbolic link
  std::optional<bool> directory;        // whether it is a directory (following links), if known
  std::optional<bool> hidden;           // decided apart from the listed path's text (links)
};

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
  relative_namer(expansion_context& context, const std::string& directory, std::string canonical_directory,
                 bool is_own_prefix)
      : _context(context),
        _directory(directory),
        _resolved(std::move(canonical_directory)),
        _is_own_prefix(is_own_prefix) {}

  // What the read of the directory met when it examined an entry.
  void set_examine_error(int error) { _examine_error = error; }

  // Whether entries that are not links are named by the prefix.
  bool names_by_prefix() const { return _mode == mode::below; }

  // Fills in `listed`, an entry of the directory whose `name` holds its own
  // name. Throws where relative() would.
  void name(listed_entry& listed);

  // The listed path of an entry kept by name only.
  std::string path(const std::string& name) const { return _prefix.empty() ? name : join(_prefix, name); }
  // The directory resolved, once an entry has been named; empty if unknown.
  const std::string& resolved() const { return _resolved; }
  // The text every path kept by name begins with: the prefix, or the name.
  const std::string& start(const std::string& name) const { return _prefix.empty() ? name : _prefix; }

 private:
  enum class mode { unknown, exact, below };

  std::string own_path(const std::string& name);
  bool too_long(const std::string& name) const;
  void choose_mode();

  expansion_context& _context;
  const std::string& _directory;
  std::string _resolved;
  std::string _prefix;
  std::optional<std::string> _directory_relative;  // relative() of the directory, once asked for
  bool _is_own_prefix;
  mode _mode = mode::unknown;
  bool _examined = false;
  int _examine_error = 0;
};

// The listing of one directory, as iter_directory specifies it.
// `canonical_directory` may be given when the caller knows the resolved
// directory already; empty means unknown. `is_own_prefix` as for
// relative_namer. `fd`, when open (>= 0), is the directory itself, opened
// the way its path would open it; the listing reads through it.
class directory_listing {
 public:
  directory_listing(expansion_context& context, const std::string& dirname, bool dironly,
                    const std::string& canonical_directory = {}, bool is_own_prefix = false, int fd = -1);

  directory_listing(const directory_listing&) = delete;
  directory_listing& operator=(const directory_listing&) = delete;

  // The directory as it is opened: the name given, or the current directory.
  const std::string& directory() const { return _current; }

  // What the directory resolves to, once an entry has been named in a
  // relative listing; empty otherwise.
  const std::string& resolved_directory() const;

  // Whether the entries named so far that are not links were named as the
  // directory's resolved path relative to the current one plus their name.
  bool names_by_prefix() const { return _namer && _namer->names_by_prefix(); }

  // Hands each listed entry to `visit`, in order. An entry that cannot be
  // resolved ends the listing with what it has; what `visit` throws passes.
  template <typename Visit>
  void for_each(Visit&& visit) {
    if (!_raw) {
      return;
    }
    for (const auto& read : _raw->entries) {
      listed_entry listed;
      if (!describe(read, listed)) {
        return;
      }
      if (listed.entry != nullptr) {
        visit(listed);
      }
    }
  }

  // All listed entries, in order.
  std::vector<listed_entry> entries();

  // The path iter_directory gives for the entry.
  std::string path(const listed_entry& listed) const;

  // Whether the text of that path begins with a dot.
  bool hidden(const listed_entry& listed) const;

 private:
  // Fills in `listed` for one entry read, leaving it without `entry` when it
  // is skipped; false when the entry ends the listing.
  bool describe(const raw_entry& read, listed_entry& listed);

  std::string _current;
  bool _absolute;
  bool _dironly;
  std::optional<relative_namer> _namer;  // relative listings only; refers to _current
  std::shared_ptr<const raw_listing> _raw;
};

// The entries of one directory (the current one for an empty name).
path_list iter_directory(expansion_context& context, const std::filesystem::path& dirname, bool dironly);

}  // namespace glob::detail
