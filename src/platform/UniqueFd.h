// UniqueFd: owns one open file descriptor and closes it when destroyed.
#pragma once

#include <unistd.h>

namespace platform {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : _fd(fd) {}
  ~UniqueFd() {
    if (_fd >= 0) ::close(_fd);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return _fd; }
  bool valid() const { return _fd >= 0; }

 private:
  int _fd;
};

}  // namespace platform
