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

void appendRecord(std::string& text, const Record& record) {
  text += static_cast<char>(record.change);
  text += ' ';
  text += std::to_string(record.backup);
  appendPath(text, record.path);
  if (record.change == Change::Renamed) appendPath(text, record.other);
  text += '\n';
}

}  // namespace

Journal::Journal(const fs::path& file)
    : _file(file), _fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600)) {
  if (!_fd) platform::throwSystemError("cannot create transaction journal", file, errno);
}

void Journal::append(const Record& record) {
  std::string text;
  appendRecord(text, record);
  write(text);
}

void Journal::append(const std::vector<Record>& records, std::size_t first) {
  std::string text;
  for (std::size_t at = first; at < records.size(); ++at) appendRecord(text, records[at]);
  write(text);
}

void Journal::write(const std::string& text) {
  if (_torn) platform::throwSystemError("cannot write transaction journal", _file, EIO);
  ssize_t written = ::write(_fd.get(), text.data(), text.size());
  if (written == static_cast<ssize_t>(text.size())) {
    _length += static_cast<off_t>(written);
    return;
  }
  const int error = written < 0 ? errno : ENOSPC;
  // A torn record in the middle would hide every record after it: it is
  // cut off, or when that fails too nothing more is written.
  _torn = written > 0 && ::ftruncate(_fd.get(), _length) != 0;
  platform::throwSystemError("cannot write transaction journal", _file, error);
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
