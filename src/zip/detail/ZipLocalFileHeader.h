// The local header in front of each entry's data (30 bytes plus name and
// extra fields). On reading it only tells where the data begins; every value
// the entry exposes comes from the central directory header, which
// SyncWithCentralDirectoryFileHeader copies over the local one.
//
// Deserialize reports failure (false) for a short read or a wrong signature
// and clears the stream's error state.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "zip/detail/ZipGenericExtraField.h"

namespace detail {

struct ZipCentralDirectoryFileHeader;

struct ZipLocalFileHeader {
  static constexpr uint32_t SignatureConstant = 0x04034b50;
  static constexpr std::streamoff FixedSize = 30;

  uint32_t Signature = SignatureConstant;
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

  std::string Filename;
  std::vector<ZipGenericExtraField> ExtraFields;

  // Reads one header at the stream's position. On success the stream stands
  // at the end of the declared extra area, where the entry's data begins.
  bool Deserialize(std::istream& stream);

  // Overwrites version, flag, method, time, date, CRC-32, sizes and name with
  // the central directory header's values; the extra fields stay as read.
  void SyncWithCentralDirectoryFileHeader(const ZipCentralDirectoryFileHeader& header);
};

}  // namespace detail
