#include "signing/SmallFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileDescriptor.h"
#include "signing/Minisign.h"

namespace signing {

std::string readSmallFile(const std::string& path, std::size_t limit, const std::string& name) {
  const std::string unreadable = name + " cannot be read: ";
  platform::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw SignatureError(unreadable + std::strerror(errno));
  std::string text(limit + 1, '\0');
  std::size_t size = 0;
  while (size < text.size()) {
    ssize_t got = ::read(file.get(), &text[size], text.size() - size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw SignatureError(unreadable + std::strerror(errno));
    if (got == 0) break;
    size += static_cast<std::size_t>(got);
  }
  if (size > limit) throw SignatureError(name + " is larger than " + std::to_string(limit) + " bytes");
  text.resize(size);
  return text;
}

}  // namespace signing
