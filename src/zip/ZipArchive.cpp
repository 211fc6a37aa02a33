#include "zip/ZipArchive.h"

#include <algorithm>
#include <cassert>
#include <vector>

#include "zip/detail/ZipCentralDirectoryFileHeader.h"

namespace {

// The end record's signature lies at least this far before the end of the
// stream (22-byte record minus the 4 bytes of a comment length rounding).
constexpr std::streamoff EndRecordScanStart = 18;
constexpr std::streamoff SignatureSize = 4;
// The signature scan reads this much at a time instead of 4 bytes per seek,
// which keeps a scan through a large file that is not an archive fast.
constexpr std::streamoff ScanBlockSize = 1 << 16;

bool SignatureAt(const std::vector<char>& block, size_t index, uint32_t signature) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.data()) + index;
  const uint32_t value = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  return value == signature;
}

// Reads [from, from + count) into `block`; false when not all bytes came.
bool ReadBlock(std::istream& stream, std::streamoff from, std::streamoff count, std::vector<char>& block) {
  block.resize(static_cast<size_t>(count));
  stream.clear();
  stream.seekg(from);
  stream.read(block.data(), count);
  return stream.gcount() == count;
}

}  // namespace

ZipArchive::Ptr ZipArchive::Create(std::istream* stream, bool takeOwnership) {
  Ptr zipArchive(new ZipArchive());
  zipArchive->_zipStream = stream;
  if (stream != nullptr && takeOwnership) zipArchive->_ownedStream.reset(stream);
  if (stream != nullptr) {
    zipArchive->ReadEndOfCentralDirectory();
    zipArchive->EnsureCentralDirectoryRead();
  }
  return zipArchive;
}

ZipArchive::Ptr ZipArchive::Create(std::istream& stream) { return Create(&stream, false); }

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
  std::istream& stream = *_zipStream;
  stream.clear();
  stream.seekg(-EndRecordScanStart, std::ios::end);
  if (SeekToSignature(stream, detail::EndOfCentralDirectoryBlock::SignatureConstant, SeekDirection::Backward)) {
    return _endOfCentralDirectoryBlock.Deserialize(stream);
  }
  return false;
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
  stream.seekg(0, std::ios::end);
  const std::streamoff size = stream.tellg();
  stream.clear();
  // A signature can start at most at size - 4.
  const std::streamoff last = size - SignatureSize;
  if (size < 0 || start > last) return false;

  std::vector<char> block;
  if (direction == SeekDirection::Backward) {
    // Candidates start, start - 1, ..., 0, nearest first.
    for (std::streamoff high = start; high >= 0;) {
      const std::streamoff low = std::max<std::streamoff>(0, high - ScanBlockSize + 1);
      if (!ReadBlock(stream, low, high - low + SignatureSize, block)) break;
      for (std::streamoff at = high; at >= low; --at) {
        if (SignatureAt(block, static_cast<size_t>(at - low), signature)) {
          stream.clear();
          stream.seekg(at);
          return true;
        }
      }
      high = low - 1;
    }
  } else {
    // Candidates start, start + 1, ..., size - 4.
    for (std::streamoff low = start; low <= last;) {
      const std::streamoff high = std::min<std::streamoff>(last, low + ScanBlockSize - 1);
      if (!ReadBlock(stream, low, high - low + SignatureSize, block)) break;
      for (std::streamoff at = low; at <= high; ++at) {
        if (SignatureAt(block, static_cast<size_t>(at - low), signature)) {
          stream.clear();
          stream.seekg(at);
          return true;
        }
      }
      low = high + 1;
    }
  }
  stream.clear();
  return false;
}
