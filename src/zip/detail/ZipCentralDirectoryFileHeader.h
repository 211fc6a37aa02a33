// The central directory header of one ZIP entry (46 bytes plus name, extra
// fields and comment), as read from an archive.
//
// A default-constructed header has every field zero and its signature set.
// Deserialize reports failure (false) for a short read or a wrong signature,
// which is also how the end of the directory is found; it then clears the
// stream's error state so that the caller can go on using the stream.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "zip/detail/ZipGenericExtraField.h"

namespace detail {

struct ZipCentralDirectoryFileHeader {
  static constexpr uint32_t SignatureConstant = 0x02014b50;
  static constexpr std::streamoff FixedSize = 46;

  uint32_t Signature = SignatureConstant;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeededToExtract = 0;
  uint16_t GeneralPurposeBitFlag = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModificationTime = 0;
  uint16_t LastModificationDate = 0;
  uint32_t Crc32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FilenameLength = 0;
  uint16_t ExtraFieldLength = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalFileAttributes = 0;
  uint32_t ExternalFileAttributes = 0;
  uint32_t RelativeOffsetOfLocalHeader = 0;

  std::string Filename;
  std::vector<ZipGenericExtraField> ExtraFields;
  std::string FileComment;

  // Reads one header at the stream's position. On success the stream stands
  // after the comment, also when a malformed extra field stopped the parsing
  // of the extra area early.
  bool Deserialize(std::istream& stream);
};

}  // namespace detail
