// One open ZIP archive: its end-of-central-directory record and every entry
// of its central directory, read once when the archive is created.
//
// The archive owns its entries (shared with callers), its source of bytes (an
// open file read by position, or a stream, which it owns when told to) and
// the stream its records are parsed from. Entries read their data from the
// source at their own positions. Entries must not be used to read data after
// their archive is gone. Failure: bytes that are not a ZIP archive, or a
// damaged directory, give fewer entries (possibly none); nothing here throws
// except allocation failure. One thread at a time, except that entries of an
// archive read from a file (ArchiveFile) may each read their data on a
// thread of their own.
//
// Part of the reader's interface, not called by the updater itself:
// GetComment and SeekToSignature.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "zip/ArchiveSource.h"
#include "zip/ZipArchiveEntry.h"
#include "zip/detail/EndOfCentralDirectoryBlock.h"

class ZipArchive {
  friend class ZipArchiveEntry;

 public:
  using Ptr = std::shared_ptr<ZipArchive>;

  enum class SeekDirection { Forward, Backward };

  // Reads the directory from a seekable stream. The archive deletes the
  // stream when it is destroyed if `takeOwnership` is true. A null stream
  // gives an empty archive without a stream.
  static Ptr Create(std::istream* stream, bool takeOwnership);
  // The same, without ownership: the stream must outlive the archive.
  static Ptr Create(std::istream& stream);
  // Reads the directory from `source` (an open archive file), which the
  // archive owns from then on.
  static Ptr Create(std::unique_ptr<ArchiveSource> source);

  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
  ~ZipArchive();

  size_t GetEntriesCount() const { return _entries.size(); }

  // The entry at `index` in directory order. REQUIRES: 0 <= index < count.
  ZipArchiveEntry::Ptr GetEntry(int index);
  // The first entry whose full name equals `entryName` byte for byte; null
  // when there is none.
  ZipArchiveEntry::Ptr GetEntry(const std::string& entryName);

  const std::string& GetComment() const { return _endOfCentralDirectoryBlock.Comment; }

  // Size of the archive in bytes, taken when it was opened.
  uint64_t GetArchiveSize() const { return _archiveSize; }
  // Whether the end record's signature was found, i.e. the bytes end like a
  // ZIP archive (false for an empty one).
  bool HasEndOfCentralDirectory() const { return _hasEndOfCentralDirectory; }

  // Finds the end record (searching backwards from 18 bytes before the end
  // of the source) and reads it. False when there is none.
  bool ReadEndOfCentralDirectory();
  // Reads consecutive central directory headers from the directory offset
  // until one fails. Always true.
  bool EnsureCentralDirectoryRead();

  // Looks for the 4-byte little-endian `signature` at the stream's position
  // and then one byte further at a time in `direction`. On success the stream
  // stands at the signature's first byte; on failure its state is cleared and
  // its position is unspecified.
  static bool SeekToSignature(std::istream& stream, uint32_t signature, SeekDirection direction);

 private:
  ZipArchive() = default;

  void ReadDirectory();

  std::istream* GetArchiveStream() const { return _zipStream; }
  ArchiveSource* GetSource() const { return _source.get(); }

  detail::EndOfCentralDirectoryBlock _endOfCentralDirectoryBlock;
  std::vector<ZipArchiveEntry::Ptr> _entries;
  std::unique_ptr<ArchiveSource> _source;      // what entries read their data from
  std::unique_ptr<std::istream> _ownedStream;  // set when the archive owns _zipStream
  std::istream* _zipStream = nullptr;          // what records are parsed from
  uint64_t _archiveSize = 0;
  bool _hasEndOfCentralDirectory = false;
};
