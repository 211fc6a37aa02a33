// The end-of-central-directory record (22 bytes plus comment), which tells
// where the central directory starts and holds the archive comment.
//
// A default-constructed record has every field zero (central directory at
// offset 0) and its signature set. Deserialize reads the record at the
// stream's position (the signature has been found there already) and reports
// failure (false) when the record is cut off before its comment length.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace detail {

struct EndOfCentralDirectoryBlock {
  static constexpr uint32_t SignatureConstant = 0x06054b50;
  static constexpr std::streamoff FixedSize = 22;

  uint32_t Signature = SignatureConstant;
  uint16_t NumberOfThisDisk = 0;
  uint16_t NumberOfTheDiskWithTheStartOfTheCentralDirectory = 0;
  uint16_t NumberOfEntriesInTheCentralDirectoryOnThisDisk = 0;
  uint16_t NumberOfEntriesInTheCentralDirectory = 0;
  uint32_t SizeOfCentralDirectory = 0;
  uint32_t OffsetOfStartOfCentralDirectoryWithRespectToTheStartingDiskNumber = 0;
  uint16_t CommentLength = 0;
  std::string Comment;

  // A comment cut off by the end of the file keeps the bytes that are there.
  bool Deserialize(std::istream& stream);
};

}  // namespace detail
