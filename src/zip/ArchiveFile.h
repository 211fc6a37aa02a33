// An archive file open for reading, read by position (pread): no seeks, and
// one system call per block, however many entries take turns.
//
// Owns the descriptor and closes it on destruction; movable, not copyable.
// Reads that fail (other than by interruption) deliver what came before.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/ArchiveSource.h"

class ArchiveFile final : public ArchiveSource {
 public:
  // Takes ownership of `descriptor`, open for reading.
  explicit ArchiveFile(int descriptor) : _descriptor(descriptor) {}
  ArchiveFile(ArchiveFile&& other) noexcept : _descriptor(other._descriptor) { other._descriptor = -1; }
  ArchiveFile& operator=(ArchiveFile&& other) noexcept;
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;
  ~ArchiveFile() override;

  int descriptor() const { return _descriptor; }

  uint64_t size() override;
  size_t readAt(uint64_t offset, char* destination, size_t count) override;

 private:
  int _descriptor = -1;
};
