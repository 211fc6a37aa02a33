#include "platform/ConfinedDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/openat2.h>
#endif

#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/ChangeGuard.h"
#include "platform/SystemError.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

// As many links as the kernel follows in one lookup.
constexpr int kMaxLinkHops = 40;

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

// One call for the common case, a path of plain directories that all exist:
// the kernel refuses to leave `root` or to follow any link on the way, and
// every other case (missing levels, links, older kernels) takes the walk.
FileDescriptor openBeneath(int root, const fs::path& relative) {
#if defined(__linux__) && defined(SYS_openat2)
  struct open_how how;
  std::memset(&how, 0, sizeof how);
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return FileDescriptor(static_cast<int>(::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how)));
#else
  (void)root;
  (void)relative;
  return FileDescriptor();
#endif
}

FileDescriptor openLevel(int parent, const std::string& name) {
  return FileDescriptor(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::optional<std::string> readLink(int parent, const std::string& name) {
  std::string text(256, '\0');
  for (;;) {
    ssize_t length = ::readlinkat(parent, name.c_str(), text.data(), text.size());
    if (length < 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < text.size()) {
      text.resize(static_cast<std::size_t>(length));
      return text;
    }
    text.resize(text.size() * 2);
  }
}

// One path element still to be walked; `fromLink` marks those that came
// from a link's text, which may name a level that is missing but must not
// create it.
struct Element {
  std::string name;
  bool fromLink;
};

void prepend(std::deque<Element>& pending, const fs::path& path, bool fromLink) {
  std::vector<Element> elements;
  for (const fs::path& element : path) elements.push_back({element.native(), fromLink});
  pending.insert(pending.begin(), elements.begin(), elements.end());
}

// Whether the rest of a walk that met a missing level stays inside, taken
// lexically from `depth` levels below the root.
bool staysInside(std::size_t depth, const std::deque<Element>& rest) {
  for (const Element& element : rest) {
    if (element.name.empty() || element.name == ".") continue;
    if (element.name != "..") {
      ++depth;
    } else if (depth-- == 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

ConfinedDirectory::ConfinedDirectory(const fs::path& root)
    : _root(fs::canonical(root)), _rootDirectory(::open(_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (!_rootDirectory) {
    throwSystemError(errno == ENOTDIR ? "unzip destination is not a directory" : "cannot open directory", root, errno);
  }
}

std::optional<fs::path> ConfinedDirectory::relativePath(const std::string& name) {
  fs::path path(name);
  if (path.has_root_path()) return std::nullopt;
  return normalise(path);
}

ConfinedDirectory::Resolved ConfinedDirectory::resolve(const fs::path& relative, bool create) const {
  if (!relative.empty()) {
    if (FileDescriptor direct = openBeneath(_rootDirectory.get(), relative))
      return {Walk::Directory, std::move(direct)};
  }
  const fs::path shownAs = _root / relative;
  // The open levels from the root down; ".." goes back one of them, so it
  // can never climb above a level that was really passed through.
  std::vector<FileDescriptor> levels;
  levels.emplace_back(::fcntl(_rootDirectory.get(), F_DUPFD_CLOEXEC, 0));
  if (!levels.back()) throwSystemError("cannot open directory", _root, errno);

  std::deque<Element> pending;
  prepend(pending, relative, false);
  int hops = 0;
  while (!pending.empty()) {
    Element element = std::move(pending.front());
    pending.pop_front();
    if (element.name.empty() || element.name == ".") continue;
    if (element.name == "..") {
      if (levels.size() == 1) return {Walk::Outside, {}};
      levels.pop_back();
      continue;
    }
    const int parent = levels.back().get();
    FileDescriptor level = openLevel(parent, element.name);
    if (!level && errno == ENOENT) {
      if (!create || element.fromLink) {
        if (!staysInside(levels.size(), pending)) return {Walk::Outside, {}};
        if (!create) return {Walk::Missing, {}};
        throwSystemError("cannot create directory", shownAs, ENOENT);  // a dangling link on the way
      }
      if (ChangeGuard* guard = activeChangeGuard()) guard->beforeReplace(parent, element.name);
      if (::mkdirat(parent, element.name.c_str(), 0777) != 0 && errno != EEXIST) {
        throwSystemError("cannot create directory", shownAs, errno);
      }
      level = openLevel(parent, element.name);
    }
    if (!level) {
      const int openError = errno;
      struct stat info;
      if (::fstatat(parent, element.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        throwSystemError("cannot create directory", shownAs, errno);
      }
      if (!S_ISLNK(info.st_mode)) {
        // A file where a link's text ends is a place like any other; a file
        // on the way of a directory to be made is an error.
        if (!create) return {staysInside(levels.size(), pending) ? Walk::Missing : Walk::Outside, {}};
        throwSystemError("cannot create directory", shownAs, S_ISDIR(info.st_mode) ? openError : ENOTDIR);
      }
      std::optional<std::string> text = readLink(parent, element.name);
      if (!text) throwSystemError("cannot create directory", shownAs, errno);
      if (fs::path(*text).has_root_path()) return {Walk::Outside, {}};
      if (++hops > kMaxLinkHops) throwSystemError("cannot create directory", shownAs, ELOOP);
      prepend(pending, *text, true);
      continue;
    }
    levels.push_back(std::move(level));
  }
  return {Walk::Directory, std::move(levels.back())};
}

std::optional<FileDescriptor> ConfinedDirectory::openDirectory(const fs::path& relative) {
  Resolved resolved = resolve(relative, true);
  if (resolved.outcome != Walk::Directory) return std::nullopt;
  return std::move(resolved.directory);
}

std::optional<FileDescriptor> ConfinedDirectory::findDirectory(const fs::path& relative) const {
  try {
    Resolved resolved = resolve(relative, false);
    if (resolved.outcome == Walk::Directory) return std::move(resolved.directory);
  } catch (const std::exception&) {
    // A level that cannot be read is an error only for the one who creates.
  }
  return std::nullopt;
}

bool ConfinedDirectory::placeSymlink(const fs::path& relative, const std::string& linkText) {
  const fs::path text(linkText);
  if (text.has_root_path() || !normalise(relative.parent_path() / text)) return false;
  if (resolve(relative.parent_path() / text, false).outcome == Walk::Outside) return false;
  std::optional<FileDescriptor> directory = openDirectory(relative.parent_path());
  if (!directory) return false;
  const std::string name = relative.filename().string();
  struct stat info;
  if (::fstatat(directory->get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
    throwSystemError("cannot unzip file", _root / relative, EISDIR);
  }
  replaceWithSymlink(directory->get(), name, linkText, _root / relative);
  return true;
}

}  // namespace platform
