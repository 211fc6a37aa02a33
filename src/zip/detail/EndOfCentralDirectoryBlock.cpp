#include "zip/detail/EndOfCentralDirectoryBlock.h"

#include "zip/detail/ZipRecordIO.h"

namespace detail {

bool EndOfCentralDirectoryBlock::Deserialize(std::istream& stream) {
  EndOfCentralDirectoryBlock record;
  ReadLittleEndian(stream, record.Signature);
  ReadLittleEndian(stream, record.NumberOfThisDisk);
  ReadLittleEndian(stream, record.NumberOfTheDiskWithTheStartOfTheCentralDirectory);
  ReadLittleEndian(stream, record.NumberOfEntriesInTheCentralDirectoryOnThisDisk);
  ReadLittleEndian(stream, record.NumberOfEntriesInTheCentralDirectory);
  ReadLittleEndian(stream, record.SizeOfCentralDirectory);
  ReadLittleEndian(stream, record.OffsetOfStartOfCentralDirectoryWithRespectToTheStartingDiskNumber);
  ReadLittleEndian(stream, record.CommentLength);
  if (!stream) {
    // A record cut off by the end of the file holds no usable offset; the
    // defaults stay.
    stream.clear();
    return false;
  }
  if (record.CommentLength > 0) ReadBytes(stream, record.Comment, record.CommentLength);
  stream.clear();
  *this = std::move(record);
  return true;
}

}  // namespace detail
