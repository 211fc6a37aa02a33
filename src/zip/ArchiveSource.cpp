#include "zip/ArchiveSource.h"

uint64_t StreamSource::size() {
  _stream.clear();
  _stream.seekg(0, std::ios::end);
  const std::streamoff end = _stream.tellg();
  _stream.clear();
  return end > 0 ? static_cast<uint64_t>(end) : 0;
}

size_t StreamSource::readAt(uint64_t offset, char* destination, size_t count) {
  // Another reader may have left the shared stream at its end or failed.
  _stream.clear();
  if (!_stream.seekg(static_cast<std::streamoff>(offset))) {
    _stream.clear();
    return 0;
  }
  _stream.read(destination, static_cast<std::streamsize>(count));
  const auto got = static_cast<size_t>(_stream.gcount());
  _stream.clear();
  return got;
}
