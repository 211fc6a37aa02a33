#include "transaction/Journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/SystemError.h"

namespace fs = std::filesystem;

namespace transaction {
namespace {

void appendPath(std::string& line, const fs::path& path) {
  line += ' ';
  line += std::to_string(path.native().size());
  line += ' ';
  line += path.native();
}

// Reads "<number> " at `at`; false when the text is not that.
bool readNumber(const std::string& text, std::size_t& at, std::uint64_t& value) {
  const std::size_t start = at;
  value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    if (at - start >= 19) return false;
    value = value * 10 + static_cast<std::uint64_t>(text[at++] - '0');
  }
  if (at == start || at >= text.size() || text[at] != ' ') return false;
  ++at;
  return true;
}

bool readPath(const std::string& text, std::size_t& at, fs::path& path) {
  std::uint64_t length = 0;
  if (!readNumber(text, at, length) || length > text.size() - at) return false;
  path = text.substr(at, static_cast<std::size_t>(length));
  at += static_cast<std::size_t>(length);
  return true;
}

}  // namespace

Journal::Journal(const fs::path& file)
    : _file(file), _fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600)) {
  if (!_fd) platform::throwSystemError("cannot create transaction journal", file, errno);
}

void Journal::append(const Record& record) {
  std::string line(1, static_cast<char>(record.change));
  line += ' ';
  line += std::to_string(record.backup);
  appendPath(line, record.path);
  if (record.change == Change::Renamed) appendPath(line, record.other);
  line += '\n';
  // One write: a short one would leave a torn record in the middle.
  ssize_t written = ::write(_fd.get(), line.data(), line.size());
  if (written != static_cast<ssize_t>(line.size())) {
    platform::throwSystemError("cannot write transaction journal", _file, written < 0 ? errno : ENOSPC);
  }
}

std::vector<Record> Journal::read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Record> records;
  std::size_t at = 0;
  while (at + 2 < text.size()) {
    Record record{static_cast<Change>(text[at]), 0, {}, {}};
    const char kind = text[at];
    if ((kind != 'C' && kind != 'K' && kind != 'M' && kind != 'R' && kind != 'T') || text[at + 1] != ' ') break;
    std::size_t next = at + 2;
    if (!readNumber(text, next, record.backup) || !readPath(text, next, record.path)) break;
    if (record.change == Change::Renamed) {
      if (next >= text.size() || text[next] != ' ') break;
      ++next;
      if (!readPath(text, next, record.other)) break;
    }
    if (next >= text.size() || text[next] != '\n') break;  // torn: its change never began
    records.push_back(std::move(record));
    at = next + 1;
  }
  return records;
}

}  // namespace transaction
