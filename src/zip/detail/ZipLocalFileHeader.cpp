#include "zip/detail/ZipLocalFileHeader.h"

#include "zip/detail/ZipCentralDirectoryFileHeader.h"
#include "zip/detail/ZipRecordIO.h"

namespace detail {

bool ZipLocalFileHeader::Deserialize(std::istream& stream) {
  ReadLittleEndian(stream, Signature);
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

  if (!stream || Signature != SignatureConstant) {
    stream.clear();
    return false;
  }

  // The data follows the declared extra area, however its fields parsed.
  return DeserializeNameAndExtraArea(stream, Filename, FilenameLength, ExtraFieldLength, ExtraFields);
}

void ZipLocalFileHeader::SyncWithCentralDirectoryFileHeader(const ZipCentralDirectoryFileHeader& header) {
  VersionNeededToExtract = header.VersionNeededToExtract;
  GeneralPurposeBitFlag = header.GeneralPurposeBitFlag;
  CompressionMethod = header.CompressionMethod;
  LastModificationTime = header.LastModificationTime;
  LastModificationDate = header.LastModificationDate;
  Crc32 = header.Crc32;
  CompressedSize = header.CompressedSize;
  UncompressedSize = header.UncompressedSize;
  Filename = header.Filename;
  FilenameLength = static_cast<uint16_t>(Filename.length());
}

}  // namespace detail
