// One entry of a ZIP archive's central directory: its normalised name, its
// metadata, and on demand the stream of its uncompressed data.
//
// The entry refers to (does not own) its archive; once the archive is gone
// the entry keeps its metadata but its data can no longer be read (null). It owns every stream of its data chain
// (bounded substream over the archive stream, decryption, decoder); the stream handed out by GetDecompressionStream
// stays valid until CloseDecompressionStream or the entry's destruction. Failure: GetDecompressionStream returns null
// when the entry cannot be read (version needed above 63, a chain already open, encrypted without password or with a
// wrong one, a missing local header); damaged data ends the stream early. Nothing throws except allocation failure. One
// thread at a time per entry; see ZipArchive for several.
//
// Part of the reader's interface, not called by the updater itself: GetName,
// GetComment, GetLastWriteTime, GetPassword, SetPassword,
// IsDecompressionStreamOpened and SeekToCompressedData.
#pragma once

#include <cstdint>
#include <ctime>
#include <istream>
#include <memory>
#include <string>

#include "zip/detail/ZipCentralDirectoryFileHeader.h"
#include "zip/detail/ZipLocalFileHeader.h"
#include "zip/streams/compression_decoder_stream.h"
#include "zip/streams/substream.h"
#include "zip/streams/zip_cryptostream.h"

class ZipArchive;

class ZipArchiveEntry : public std::enable_shared_from_this<ZipArchiveEntry> {
  friend class ZipArchive;

 public:
  using Ptr = std::shared_ptr<ZipArchiveEntry>;

  // MS-DOS attribute bits in the low byte of the external attributes.
  enum class Attributes : uint32_t {
    None = 0,
    Directory = 0x10,
    Archive = 0x20,
  };

  // Bits of the general purpose flag.
  enum class BitFlag : uint16_t {
    None = 0,
    Encrypted = 0x0001,
    DataDescriptor = 0x0008,
  };

  // Highest "version needed to extract" this reader accepts.
  static constexpr uint16_t MaxVersionToExtract = 63;

  // The entry for a central directory header read from `zipArchive`; null
  // when the header's name is not valid. REQUIRES: zipArchive != nullptr.
  static Ptr CreateExisting(ZipArchive* zipArchive, detail::ZipCentralDirectoryFileHeader& cd);

  // False for an empty name or one made only of "/" and "\" characters.
  static bool IsValidFilename(const std::string& fullPath);

  ZipArchiveEntry(const ZipArchiveEntry&) = delete;
  ZipArchiveEntry& operator=(const ZipArchiveEntry&) = delete;
  ~ZipArchiveEntry();

  // Names.
  const std::string& GetFullName() const { return _centralDirectoryFileHeader.Filename; }
  // Normalises `fullName` ("\" to "/", no leading "/", no repeated "/") and
  // makes it the entry's name; a trailing "/" marks a directory.
  void SetFullName(const std::string& fullName);
  const std::string& GetName() const { return _name; }
  const std::string& GetComment() const { return _centralDirectoryFileHeader.FileComment; }
  // Applies SetFullName to the current full name again.
  void CheckFilenameCorrection();

  // Metadata from the central directory header.
  time_t GetLastWriteTime() const;
  uint32_t GetAttributes() const { return _centralDirectoryFileHeader.ExternalFileAttributes; }
  void SetAttributes(Attributes value);
  bool IsDirectory() const;
  uint16_t GetCompressionMethod() const { return _centralDirectoryFileHeader.CompressionMethod; }
  uint16_t GetGeneralPurposeBitFlag() const { return _centralDirectoryFileHeader.GeneralPurposeBitFlag; }
  bool IsPasswordProtected() const;
  bool IsUsingDataDescriptor() const;
  uint32_t GetCrc32() const { return _centralDirectoryFileHeader.Crc32; }
  uint32_t GetSize() const { return _centralDirectoryFileHeader.UncompressedSize; }
  uint32_t GetCompressedSize() const { return _centralDirectoryFileHeader.CompressedSize; }
  uint16_t GetVersionMadeBy() const { return _centralDirectoryFileHeader.VersionMadeBy; }
  uint16_t GetVersionToExtract() const { return _centralDirectoryFileHeader.VersionNeededToExtract; }
  // The high byte of "version needed" is the host system for some archivers
  // (older 7-Zip among them); only the low byte is the version.
  bool CanExtract() const { return (GetVersionToExtract() & 0xFF) <= MaxVersionToExtract; }
  uint32_t GetOffsetOfLocalHeader() const { return _centralDirectoryFileHeader.RelativeOffsetOfLocalHeader; }

  // Password for traditional decryption.
  const std::string& GetPassword() const { return _password; }
  void SetPassword(const std::string& password);
  // The byte the decrypted encryption header must end with.
  uint8_t GetLastByteOfEncryptionHeader() const;

  // The entry's uncompressed data, or null (see above). The caller does not
  // delete it; one chain per entry is open at a time.
  std::istream* GetDecompressionStream();
  void CloseDecompressionStream();
  bool IsDecompressionStreamOpened() const { return _compressionStream != nullptr; }

  // Reads the local header once (when not done yet). The data position stays
  // unset (-1) when no local header is found at the stored offset.
  void FetchLocalFileHeader();
  // Position of the entry's data in the archive stream, or -1 when unknown.
  std::istream::pos_type GetOffsetOfCompressedData();
  // Seeks the archive stream to the entry's data and returns the position;
  // -1 (and no seek) when unknown.
  std::istream::pos_type SeekToCompressedData();

 private:
  ZipArchiveEntry() = default;

  // The buffer for the entry's data window, sized for the whole entry when
  // it is small and for big reads otherwise.
  substream_block<char> NewDataBlock() const;
  // Reads the local header the first time, together with as much of the
  // data as `block` holds (one read for a small entry), and leaves in
  // `block` the data bytes it got.
  void FetchLocalFileHeader(substream_block<char>& block);

  bool HasAttribute(Attributes value) const;

  ZipArchive* _archive = nullptr;

  std::shared_ptr<std::istream> _rawStream;  // write side; unused on reading
  std::shared_ptr<compression_decoder_stream> _compressionStream;
  std::shared_ptr<zip_cryptostream> _encryptionStream;
  std::shared_ptr<isubstream> _archiveStream;

  std::istream* _inputStream = nullptr;  // write side's source; null for entries read from an archive

  std::string _name;

  bool _originallyInArchive = false;
  bool _isNewOrChanged = false;
  bool _hasLocalFileHeader = false;

  detail::ZipLocalFileHeader _localFileHeader;
  detail::ZipCentralDirectoryFileHeader _centralDirectoryFileHeader;

  std::istream::pos_type _offsetOfCompressedData = -1;
  std::istream::pos_type _offsetOfSerializedLocalFileHeader = -1;  // write side

  std::string _password;
};
