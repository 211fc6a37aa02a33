#include "zip/ZipArchive.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "platform/ByteSearch.h"
#include "zip/detail/ZipCentralDirectoryFileHeader.h"
#include "zip/streams/source_stream.h"

namespace {

// The end record's signature lies at least this far before the end of the
// stream (22-byte record minus the 4 bytes of a comment length rounding).
constexpr uint64_t EndRecordScanStart = 18;
constexpr uint64_t SignatureSize = 4;
// The signature scan reads this much at a time: a file that is not an
// archive is read whole, so at close to the speed of the disk cache.
constexpr uint64_t ScanBlockSize = 1 << 20;

bool SignatureAt(const char* bytes, uint32_t signature) {
  const auto* at = reinterpret_cast<const unsigned char*>(bytes);
  const uint32_t value = static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
                         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
  return value == signature;
}

// The offset of the nearest occurrence of `signature` in `source` at
// `start` or before it (Backward) or after it (Forward), or -1. Each block is
// searched for the signature's first byte (memrchr, memchr), and only
// those places compared whole.
int64_t FindSignature(ArchiveSource& source, uint64_t start, uint32_t signature, ZipArchive::SeekDirection direction) {
  const uint64_t size = source.size();
  if (size < SignatureSize || start > size - SignatureSize) return -1;
  const uint64_t last = size - SignatureSize;  // the last place a signature can start
  const auto firstByte = static_cast<unsigned char>(signature & 0xFF);
  std::vector<char> block(static_cast<size_t>(std::min(ScanBlockSize, last + 1) + SignatureSize - 1));

  // Reads the candidates [low, high] with the 3 bytes after the last one.
  auto read = [&](uint64_t low, uint64_t high) {
    const size_t count = static_cast<size_t>(high - low + SignatureSize);
    return source.readAt(low, block.data(), count) == count;
  };
  if (direction == ZipArchive::SeekDirection::Backward) {
    for (uint64_t high = start;;) {
      const uint64_t low = high >= ScanBlockSize - 1 ? high - (ScanBlockSize - 1) : 0;
      if (!read(low, high)) return -1;
      for (size_t length = static_cast<size_t>(high - low + 1); length > 0;) {
        const char* hit = platform::findLastByte(block.data(), firstByte, length);
        if (hit == nullptr) break;
        const size_t index = static_cast<size_t>(hit - block.data());
        if (SignatureAt(block.data() + index, signature)) return static_cast<int64_t>(low + index);
        length = index;
      }
      if (low == 0) return -1;
      high = low - 1;
    }
  }
  for (uint64_t low = start;;) {
    const uint64_t high = std::min(last, low + ScanBlockSize - 1);
    if (!read(low, high)) return -1;
    const size_t length = static_cast<size_t>(high - low + 1);
    for (size_t from = 0; from < length;) {
      const void* hit = std::memchr(block.data() + from, firstByte, length - from);
      if (hit == nullptr) break;
      const size_t index = static_cast<size_t>(static_cast<const char*>(hit) - block.data());
      if (SignatureAt(block.data() + index, signature)) return static_cast<int64_t>(low + index);
      from = index + 1;
    }
    if (high == last) return -1;
    low = high + 1;
  }
}

}  // namespace

ZipArchive::Ptr ZipArchive::Create(std::istream* stream, bool takeOwnership) {
  Ptr zipArchive(new ZipArchive());
  zipArchive->_zipStream = stream;
  if (stream != nullptr) {
    if (takeOwnership) zipArchive->_ownedStream.reset(stream);
    zipArchive->_source = std::make_unique<StreamSource>(*stream);
    zipArchive->ReadDirectory();
  }
  return zipArchive;
}

ZipArchive::Ptr ZipArchive::Create(std::istream& stream) { return Create(&stream, false); }

ZipArchive::Ptr ZipArchive::Create(std::unique_ptr<ArchiveSource> source) {
  Ptr zipArchive(new ZipArchive());
  if (source != nullptr) {
    zipArchive->_source = std::move(source);
    zipArchive->_ownedStream = std::make_unique<source_istream>(*zipArchive->_source);
    zipArchive->_zipStream = zipArchive->_ownedStream.get();
    zipArchive->ReadDirectory();
  }
  return zipArchive;
}

void ZipArchive::ReadDirectory() {
  _archiveSize = _source->size();
  ReadEndOfCentralDirectory();
  EnsureCentralDirectoryRead();
}

ZipArchive::~ZipArchive() {
  // Entries held elsewhere keep their metadata but must neither keep streams
  // over a closed file nor reach this archive again.
  for (auto& entry : _entries) {
    entry->CloseDecompressionStream();
    entry->_archive = nullptr;
  }
}

ZipArchiveEntry::Ptr ZipArchive::GetEntry(int index) {
  assert(index >= 0 && static_cast<size_t>(index) < _entries.size());
  return _entries[static_cast<size_t>(index)];
}

ZipArchiveEntry::Ptr ZipArchive::GetEntry(const std::string& entryName) {
  auto it = std::find_if(_entries.begin(), _entries.end(),
                         [&entryName](const ZipArchiveEntry::Ptr& entry) { return entry->GetFullName() == entryName; });
  return it == _entries.end() ? nullptr : *it;
}

bool ZipArchive::ReadEndOfCentralDirectory() {
  const uint64_t size = _source->size();
  const int64_t found = size < EndRecordScanStart ? -1
                                                  : FindSignature(*_source, size - EndRecordScanStart,
                                                                  detail::EndOfCentralDirectoryBlock::SignatureConstant,
                                                                  SeekDirection::Backward);
  _hasEndOfCentralDirectory = found >= 0;
  if (found < 0) return false;
  std::istream& stream = *_zipStream;
  stream.clear();
  stream.seekg(static_cast<std::streamoff>(found));
  return _endOfCentralDirectoryBlock.Deserialize(stream);
}

bool ZipArchive::EnsureCentralDirectoryRead() {
  std::istream& stream = *_zipStream;
  stream.clear();
  stream.seekg(static_cast<std::streamoff>(
      _endOfCentralDirectoryBlock.OffsetOfStartOfCentralDirectoryWithRespectToTheStartingDiskNumber));

  for (;;) {
    detail::ZipCentralDirectoryFileHeader header;
    if (!header.Deserialize(stream)) break;
    auto entry = ZipArchiveEntry::CreateExisting(this, header);
    if (entry != nullptr) _entries.push_back(std::move(entry));
  }
  stream.clear();
  return true;
}

bool ZipArchive::SeekToSignature(std::istream& stream, uint32_t signature, SeekDirection direction) {
  if (!stream) return false;
  const std::streamoff start = stream.tellg();
  if (start < 0) {
    stream.clear();
    return false;
  }
  StreamSource source(stream);
  const int64_t found = FindSignature(source, static_cast<uint64_t>(start), signature, direction);
  stream.clear();
  if (found < 0) return false;
  stream.seekg(static_cast<std::streamoff>(found));
  return true;
}
