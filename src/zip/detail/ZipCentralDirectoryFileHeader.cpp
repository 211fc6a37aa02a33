#include "zip/detail/ZipCentralDirectoryFileHeader.h"

#include "zip/detail/ZipRecordIO.h"

namespace detail {

bool ZipCentralDirectoryFileHeader::Deserialize(std::istream& stream) {
  ReadLittleEndian(stream, Signature);
  ReadLittleEndian(stream, VersionMadeBy);
  ReadLittleEndian(stream, VersionNeededToExtract);
  ReadLittleEndian(stream, GeneralPurposeBitFlag);
  ReadLittleEndian(stream, CompressionMethod);
  ReadLittleEndian(stream, LastModificationTime);
  ReadLittleEndian(stream, LastModificationDate);
  ReadLittleEndian(stream, Crc32);
  ReadLittleEndian(stream, CompressedSize);
  ReadLittleEndian(stream, UncompressedSize);
  ReadLittleEndian(stream, FilenameLength);
  ReadLittleEndian(stream, ExtraFieldLength);
  ReadLittleEndian(stream, FileCommentLength);
  ReadLittleEndian(stream, DiskNumberStart);
  ReadLittleEndian(stream, InternalFileAttributes);
  ReadLittleEndian(stream, ExternalFileAttributes);
  ReadLittleEndian(stream, RelativeOffsetOfLocalHeader);

  if (!stream || Signature != SignatureConstant) {
    stream.clear();
    return false;
  }

  // The comment follows the declared extra area even when a malformed field
  // stopped its parsing early; reading on from there would misread the
  // comment and lose every later entry.
  if (!DeserializeNameAndExtraArea(stream, Filename, FilenameLength, ExtraFieldLength, ExtraFields)) return false;
  ReadBytes(stream, FileComment, FileCommentLength);

  // A header cut off by the end of the file is not a header: the directory
  // ends before it.
  if (!stream) {
    stream.clear();
    return false;
  }
  return true;
}

}  // namespace detail
