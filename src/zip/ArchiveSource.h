// The bytes of an archive, read by position: the one way the reader's layers
// reach an archive's data.
//
// ArchiveSource is the interface; StreamSource reads a seekable input stream
// (an archive in memory, or any stream handed to ZipArchive::Create), seeking
// before every read so that other users of the stream may move it freely.
// A read past the end, or a failed stream, delivers fewer bytes (0 at the
// end); nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>

class ArchiveSource {
 public:
  virtual ~ArchiveSource() = default;

  // Size in bytes; 0 when it cannot be told.
  virtual uint64_t size() = 0;
  // Reads up to `count` bytes at `offset` into `destination`; returns the
  // number read, fewer only at the end or on an error.
  virtual size_t readAt(uint64_t offset, char* destination, size_t count) = 0;
};

class StreamSource final : public ArchiveSource {
 public:
  explicit StreamSource(std::istream& stream) : _stream(stream) {}

  uint64_t size() override;
  size_t readAt(uint64_t offset, char* destination, size_t count) override;

 private:
  std::istream& _stream;
};
