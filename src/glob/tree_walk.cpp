// The recursive walk. Each directory is opened through its parent's
// descriptor where that opens exactly what its path would: for entries that
// are not links, on paths short enough for the system to accept. The system
// then does not resolve the whole path again at every level, which made a
// deep walk cost time in proportion to the square of its depth.
#include "glob/detail/tree_walk.h"

#include <fcntl.h>

#include <climits>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/FileDescriptor.h"

namespace glob::detail {

namespace fs = std::filesystem;
using platform::FileDescriptor;

namespace {

// How many directories of the current branch may hold a descriptor at once.
// A deeper directory with entries still to walk gives its descriptor up and
// is opened again by its path when it needs one.
constexpr int kept_descriptors = 32;

// The descriptor of a directory being walked, from which its entries are
// opened. Without one it is opened by its path when first asked for.
class directory_handle {
 public:
  directory_handle(const std::string& path, FileDescriptor fd, int& open_count)
      : _path(path), _fd(std::move(fd)), _open_count(open_count) {
    if (_fd) ++_open_count;
  }
  ~directory_handle() { release(); }
  directory_handle(const directory_handle&) = delete;
  directory_handle& operator=(const directory_handle&) = delete;

  // -1 when the directory cannot be opened.
  int get() {
    if (!_fd && !_tried) {
      _tried = true;
      if (_path.size() < PATH_MAX) {
        _fd = FileDescriptor(::open(_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (_fd) ++_open_count;
      }
    }
    return _fd.get();
  }

  void release() {
    if (_fd) {
      _fd.reset();
      --_open_count;
    }
    _tried = false;
  }

 private:
  const std::string& _path;
  FileDescriptor _fd;
  int& _open_count;
  bool _tried = false;
};

class tree_walker {
 public:
  tree_walker(expansion_context& context, bool dironly) : _context(context), _dironly(dironly) {}

  path_list walk(const fs::path& dirname) {
    std::error_code ec;
    fs::path resolved = fs::canonical(dirname.empty() ? fs::current_path() : dirname, ec);
    if (ec) {
      resolved.clear();
    }
    path_list out;
    walk(dirname.native(), resolved.native(), false, FileDescriptor(), out);
    return out;
  }

 private:
  // Each directory's resolved path, and in a relative walk its path relative
  // to the current directory, follow from its parent's unless it is a link,
  // so the walk costs no more per directory at depth than near the top.
  void walk(const std::string& dirname, const std::string& resolved, bool is_own_prefix, FileDescriptor fd,
            path_list& out) {
    if (!dirname.empty()) {
      _context.remember(dirname, resolved);
    }
    directory_listing listing(_context, dirname, _dironly, resolved, is_own_prefix, fd.get());
    directory_handle handle(listing.directory(), std::move(fd), _open_descriptors);
    if (!resolved.empty()) {
      _inside.push_back(&resolved);
    }
    const std::vector<listed_entry> entries = listing.entries();
    const bool by_prefix = listing.names_by_prefix();
    // After the last entry that may be a directory, the descriptor has no use.
    std::size_t last = entries.size();
    for (std::size_t i = entries.size(); i-- > 0;) {
      if (entries[i].directory.value_or(true) && !listing.hidden(entries[i])) {
        last = i;
        break;
      }
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const listed_entry& listed = entries[i];
      if (listing.hidden(listed)) {
        continue;
      }
      std::string path = listing.path(listed);
      out.emplace_back(path);
      const bool release = i == last || _open_descriptors > kept_descriptors;
      descend(listed, std::move(path), resolved, by_prefix && !listed.link && !listed.resolved, handle, release, out);
    }
    if (!resolved.empty()) {
      _inside.pop_back();
    }
  }

  // Walks below one listed entry. Anything but a directory would list
  // nothing, so it is not opened; a status that cannot be read is left to the
  // listing, which reports it. `release` gives the parent's descriptor up
  // before the walk goes deeper.
  void descend(const listed_entry& listed, std::string path, const std::string& parent, bool is_own_prefix,
               directory_handle& parent_handle, bool release, path_list& out) {
    std::error_code ec;
    const bool directory = listed.directory ? *listed.directory : fs::is_directory(path, ec);
    if (!directory && !ec) {
      return;
    }
    std::string resolved;
    if (!listed.link && !parent.empty() && !ec) {
      resolved = join(parent, listed.name);
    } else {
      const fs::path canonical = fs::canonical(path, ec);
      if (!ec) {
        resolved = canonical.native();
      }
    }
    if (!resolved.empty()) {
      for (const std::string* inside : _inside) {
        if (*inside == resolved) {
          return;
        }
      }
    }
    // A link is followed by its path, which counts the links on the way as
    // the system does; so is a path too long for the system, which fails.
    FileDescriptor fd;
    if (!listed.link && !ec && path.size() < PATH_MAX) {
      const int parent_fd = parent_handle.get();
      if (parent_fd >= 0) {
        fd = FileDescriptor(::openat(parent_fd, listed.entry->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      }
    }
    if (release) {
      parent_handle.release();
    }
    walk(path, resolved, is_own_prefix && !resolved.empty(), std::move(fd), out);
  }

  expansion_context& _context;
  bool _dironly;
  int _open_descriptors = 0;
  std::vector<const std::string*> _inside;
};

}  // namespace

path_list rlistdir(expansion_context& context, const fs::path& dirname, bool dironly) {
  return tree_walker(context, dironly).walk(dirname);
}

}  // namespace glob::detail
