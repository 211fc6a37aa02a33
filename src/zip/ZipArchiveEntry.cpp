#include "zip/ZipArchiveEntry.h"

#include <algorithm>
#include <cassert>

#include "zip/TimeUtils.h"
#include "zip/ZipArchive.h"
#include "zip/methods/ZipMethodResolver.h"
#include "zip/methods/lzma_decoder.h"
#include "zip/streams/source_stream.h"

namespace {

constexpr char Separator = '/';
// The fixed part of a local header.
constexpr size_t LocalHeaderSize = 30;
// Room for a local extra area a little longer than the central one (as
// archivers write it), so that a small entry still comes in one read.
constexpr uint64_t LocalExtraSlack = 256;
// Larger entries are read in blocks of this size.
constexpr uint64_t BigDataBlock = 256 * 1024;

// An input stream over bytes in memory, for parsing a header read in one go.
class memory_istream : public std::istream {
 public:
  memory_istream(char* bytes, size_t count) : std::istream(nullptr), _buffer(bytes, count) { init(&_buffer); }

 private:
  class buffer : public std::streambuf {
   public:
    buffer(char* bytes, size_t count) { setg(bytes, bytes, bytes + count); }

   protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) override {
      off_type base = direction == std::ios_base::beg   ? 0
                      : direction == std::ios_base::end ? egptr() - eback()
                                                        : gptr() - eback();
      return seekpos(pos_type(base + offset), std::ios_base::in);
    }
    pos_type seekpos(pos_type target, std::ios_base::openmode) override {
      if (off_type(target) < 0 || off_type(target) > egptr() - eback()) return pos_type(off_type(-1));
      setg(eback(), eback() + off_type(target), egptr());
      return target;
    }
  };
  buffer _buffer;
};

bool EndsWithSeparator(const std::string& text) { return !text.empty() && text.back() == Separator; }

std::string WithForwardSlashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', Separator);
  return text;
}

}  // namespace

ZipArchiveEntry::Ptr ZipArchiveEntry::CreateExisting(ZipArchive* zipArchive,
                                                     detail::ZipCentralDirectoryFileHeader& cd) {
  assert(zipArchive != nullptr);
  if (!IsValidFilename(cd.Filename)) return nullptr;

  Ptr entry(new ZipArchiveEntry());
  entry->_archive = zipArchive;
  entry->_centralDirectoryFileHeader = cd;
  entry->_originallyInArchive = true;
  entry->SetFullName(cd.Filename);
  entry->SetAttributes(EndsWithSeparator(entry->GetFullName()) ? Attributes::Directory : Attributes::Archive);
  return entry;
}

bool ZipArchiveEntry::IsValidFilename(const std::string& fullPath) {
  if (fullPath.empty()) return false;
  const std::string path = WithForwardSlashes(fullPath);
  return path.find_first_not_of(Separator) != std::string::npos;
}

ZipArchiveEntry::~ZipArchiveEntry() { CloseDecompressionStream(); }

void ZipArchiveEntry::SetFullName(const std::string& fullName) {
  std::string path = WithForwardSlashes(fullName);
  const bool isDirectory = EndsWithSeparator(path);

  path.erase(0,
             path.find_first_not_of(Separator) == std::string::npos ? path.size() : path.find_first_not_of(Separator));
  // Collapse runs of "/" into one.
  path.erase(std::unique(path.begin(), path.end(), [](char a, char b) { return a == Separator && b == Separator; }),
             path.end());

  _centralDirectoryFileHeader.Filename = path;
  _centralDirectoryFileHeader.FilenameLength = static_cast<uint16_t>(path.length());
  const size_t lastSeparator = path.rfind(Separator);
  _name = lastSeparator == std::string::npos ? path : path.substr(lastSeparator + 1);

  SetAttributes(isDirectory ? Attributes::Directory : Attributes::Archive);
}

void ZipArchiveEntry::CheckFilenameCorrection() { SetFullName(GetFullName()); }

time_t ZipArchiveEntry::GetLastWriteTime() const {
  return utils::time::datetime_to_timestamp(_centralDirectoryFileHeader.LastModificationDate,
                                            _centralDirectoryFileHeader.LastModificationTime);
}

bool ZipArchiveEntry::HasAttribute(Attributes value) const {
  return (GetAttributes() & static_cast<uint32_t>(value)) != 0;
}

void ZipArchiveEntry::SetAttributes(Attributes value) {
  const uint32_t directory = static_cast<uint32_t>(Attributes::Directory);
  const uint32_t archive = static_cast<uint32_t>(Attributes::Archive);
  const uint32_t oldAttributes = GetAttributes();
  uint32_t newAttributes = oldAttributes | static_cast<uint32_t>(value);
  std::string& fullName = _centralDirectoryFileHeader.Filename;

  // The kind switches only towards the kind asked for: an entry stored with
  // both bits and a name ending in "/" stays a directory.
  if (value == Attributes::Archive && (oldAttributes & directory) != 0) {
    newAttributes &= ~directory;
    if (EndsWithSeparator(fullName)) fullName.pop_back();
  } else if (value == Attributes::Directory && (oldAttributes & archive) != 0) {
    newAttributes &= ~archive;
    if (!EndsWithSeparator(fullName)) fullName.push_back(Separator);
  }
  _centralDirectoryFileHeader.FilenameLength = static_cast<uint16_t>(fullName.length());

  if ((newAttributes & directory) != 0) {
    _centralDirectoryFileHeader.Crc32 = 0;
    _centralDirectoryFileHeader.CompressedSize = 0;
    _centralDirectoryFileHeader.UncompressedSize = 0;
  }
  _centralDirectoryFileHeader.ExternalFileAttributes = newAttributes;
}

bool ZipArchiveEntry::IsDirectory() const { return HasAttribute(Attributes::Directory); }

bool ZipArchiveEntry::IsPasswordProtected() const {
  return (GetGeneralPurposeBitFlag() & static_cast<uint16_t>(BitFlag::Encrypted)) != 0;
}

bool ZipArchiveEntry::IsUsingDataDescriptor() const {
  return (GetGeneralPurposeBitFlag() & static_cast<uint16_t>(BitFlag::DataDescriptor)) != 0;
}

void ZipArchiveEntry::SetPassword(const std::string& password) {
  _password = password;
  // An empty entry read from an archive has nothing to decrypt, so its flag
  // follows the password once its local header is known.
  if (_originallyInArchive && _hasLocalFileHeader && GetSize() == 0) {
    const auto encrypted = static_cast<uint16_t>(BitFlag::Encrypted);
    uint16_t& flag = _centralDirectoryFileHeader.GeneralPurposeBitFlag;
    flag = password.empty() ? static_cast<uint16_t>(flag & ~encrypted) : static_cast<uint16_t>(flag | encrypted);
  }
}

uint8_t ZipArchiveEntry::GetLastByteOfEncryptionHeader() const {
  if (IsUsingDataDescriptor()) {
    return static_cast<uint8_t>(_centralDirectoryFileHeader.LastModificationTime >> 8);
  }
  return static_cast<uint8_t>(_centralDirectoryFileHeader.Crc32 >> 24);
}

void ZipArchiveEntry::FetchLocalFileHeader() {
  substream_block<char> block;
  FetchLocalFileHeader(block);
}

substream_block<char> ZipArchiveEntry::NewDataBlock() const {
  const uint64_t wanted = LocalHeaderSize + _centralDirectoryFileHeader.Filename.size() +
                          _centralDirectoryFileHeader.ExtraFieldLength + LocalExtraSlack + GetCompressedSize();
  substream_block<char> block;
  block.capacity = static_cast<std::streamsize>(std::min<uint64_t>(wanted, BigDataBlock));
  // Not zeroed: the positioned read fills what is used, and clearing up to
  // 256 KiB for every entry showed in the profile of small-file archives.
  block.data = std::unique_ptr<char[]>(new char[static_cast<size_t>(block.capacity)]);
  return block;
}

void ZipArchiveEntry::FetchLocalFileHeader(substream_block<char>& block) {
  if (_hasLocalFileHeader) return;
  ArchiveSource* source = _archive != nullptr ? _archive->GetSource() : nullptr;
  if (_originallyInArchive && source != nullptr) {
    const uint64_t offset = GetOffsetOfLocalHeader();
    // Header and data in one read when the block holds them; the header is
    // parsed from memory when it lies whole in what was read.
    size_t got = 0;
    if (block.data != nullptr) got = source->readAt(offset, block.data.get(), static_cast<size_t>(block.capacity));
    const auto* bytes = reinterpret_cast<const unsigned char*>(block.data.get());
    const size_t headerSize =
        got < LocalHeaderSize ? 0 : LocalHeaderSize + (bytes[26] | bytes[27] << 8) + (bytes[28] | bytes[29] << 8);
    if (headerSize != 0 && headerSize <= got) {
      memory_istream header(block.data.get(), headerSize);
      if (_localFileHeader.Deserialize(header)) {
        _offsetOfCompressedData = static_cast<std::streamoff>(offset + headerSize);
        block.begin = static_cast<std::streamsize>(headerSize);
        block.end = static_cast<std::streamsize>(got);
      }
    } else {
      // The header did not come whole (a long extra area, or a file cut
      // short, or no block given): parse it from the archive stream. Without
      // a local header at the stored offset the data cannot be located; the
      // position stays unset and the entry unreadable. A stream of its own
      // rather than the archive's, so that entries may be read on several
      // threads at once.
      source_istream stream(*source);
      stream.seekg(static_cast<std::streamoff>(offset));
      if (stream.good() && _localFileHeader.Deserialize(stream)) _offsetOfCompressedData = stream.tellg();
    }
  }
  _localFileHeader.SyncWithCentralDirectoryFileHeader(_centralDirectoryFileHeader);
  _hasLocalFileHeader = true;
}

std::istream::pos_type ZipArchiveEntry::GetOffsetOfCompressedData() {
  FetchLocalFileHeader();
  return _offsetOfCompressedData;
}

std::istream::pos_type ZipArchiveEntry::SeekToCompressedData() {
  const std::istream::pos_type position = GetOffsetOfCompressedData();
  std::istream* stream = _archive != nullptr ? _archive->GetArchiveStream() : nullptr;
  if (position != std::istream::pos_type(-1) && stream != nullptr) {
    stream->clear();
    stream->seekg(position);
  }
  return position;
}

std::istream* ZipArchiveEntry::GetDecompressionStream() {
  if (!CanExtract() || _archiveStream != nullptr || _encryptionStream != nullptr) return nullptr;
  if (_archive == nullptr || _archive->GetSource() == nullptr) return nullptr;

  substream_block<char> block = NewDataBlock();
  FetchLocalFileHeader(block);
  const std::istream::pos_type dataPosition = _offsetOfCompressedData;
  if (dataPosition == std::istream::pos_type(-1)) return nullptr;
  if (IsPasswordProtected() && _password.empty()) return nullptr;

  _archiveStream = std::make_shared<isubstream>(*_archive->GetSource(), dataPosition,
                                                static_cast<std::streamsize>(GetCompressedSize()), std::move(block));
  std::istream* source = _archiveStream.get();

  if (IsPasswordProtected()) {
    _encryptionStream = std::make_shared<zip_cryptostream>(*source, _password.c_str());
    _encryptionStream->set_final_byte(GetLastByteOfEncryptionHeader());
    if (!_encryptionStream->read_encryption_header()) {
      CloseDecompressionStream();
      return nullptr;
    }
    source = _encryptionStream.get();
  }

  if (GetCompressionMethod() == 0) return source;

  ICompressionMethod::Ptr method = ZipMethodResolver::GetZipMethodInstance(GetCompressionMethod());
  if (method == nullptr) return source;

  compression_decoder_properties_interface& props = method->GetDecoderProperties();
  // Knowing the size lets the LZMA decoder work without an end marker and
  // bound its dictionary.
  if (auto* lzmaProps = dynamic_cast<lzma_decoder_properties*>(&props)) lzmaProps->UncompressedSize = GetSize();

  _compressionStream = std::make_shared<compression_decoder_stream>(method->GetDecoder(), props, *source);
  return _compressionStream.get();
}

void ZipArchiveEntry::CloseDecompressionStream() {
  _compressionStream.reset();
  _encryptionStream.reset();
  _archiveStream.reset();
  _rawStream.reset();
}
