#include "platform/ChangeGuard.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/SystemError.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

ChangeGuard* active = nullptr;

}  // namespace

ChangeGuard* activeChangeGuard() { return active; }

ActiveChangeGuard::ActiveChangeGuard(ChangeGuard& guard) : _previous(active) { active = &guard; }
ActiveChangeGuard::~ActiveChangeGuard() { active = _previous; }

void removeAll(const fs::path& path) {
  if (active != nullptr) {
    active->removeAll(path);
  } else if (::unlink(path.c_str()) != 0) {
    // Most entries removed are files, which one unlink does; the library
    // walks directories and words every failure.
    fs::remove_all(path);
  }
}

void createDirectories(const fs::path& path) {
  if (active != nullptr) {
    // Only the outermost missing level needs recording: undoing its
    // creation removes everything made below it.
    fs::path outermost;
    for (fs::path level = fs::absolute(path); !level.empty(); level = level.parent_path()) {
      if (fs::exists(fs::symlink_status(level))) break;
      outermost = level;
      if (level == level.parent_path()) break;
    }
    if (!outermost.empty()) active->beforeOverwrite(outermost);
  }
  fs::create_directories(path);
}

void renamePath(const fs::path& from, const fs::path& to) {
  if (active != nullptr) active->beforeRename(from, to);
  fs::rename(from, to);
}

bool hiddenFromSelections(const fs::path& path) { return active != nullptr && active->owns(path); }

fs::path pathOfDirectory(int directory) {
#ifdef F_GETPATH
  char buffer[PATH_MAX];
  if (::fcntl(directory, F_GETPATH, buffer) != 0) throwSystemError("cannot name directory", fs::path(), errno);
  return fs::path(buffer);
#else
  const std::string link = "/proc/self/fd/" + std::to_string(directory);
  std::string text(256, '\0');
  for (;;) {
    ssize_t length = ::readlink(link.c_str(), text.data(), text.size());
    if (length < 0) throwSystemError("cannot name directory", link, errno);
    if (static_cast<std::size_t>(length) < text.size()) {
      text.resize(static_cast<std::size_t>(length));
      return fs::path(text);
    }
    text.resize(text.size() * 2);
  }
#endif
}

}  // namespace platform
