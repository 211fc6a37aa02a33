#include "zip/detail/ZipGenericExtraField.h"

#include "zip/detail/ZipRecordIO.h"

namespace detail {

bool ZipGenericExtraField::Deserialize(std::istream& stream, std::istream::pos_type extraFieldEnd) {
  ReadLittleEndian(stream, Tag);
  ReadLittleEndian(stream, Size);
  if (!stream) return false;
  const std::streamoff remaining = extraFieldEnd - stream.tellg();
  if (static_cast<std::streamoff>(Size) > remaining) return false;
  Data.resize(Size);
  if (Size > 0) stream.read(reinterpret_cast<char*>(Data.data()), Size);
  if (stream.gcount() != static_cast<std::streamsize>(Size)) {
    Data.resize(static_cast<size_t>(stream.gcount()));
    return false;
  }
  return true;
}

void DeserializeExtraFields(std::istream& stream, uint16_t length, std::vector<ZipGenericExtraField>& fields) {
  fields.clear();
  if (length == 0 || !stream) return;
  const std::istream::pos_type start = stream.tellg();
  if (start == std::istream::pos_type(-1)) return;
  const std::istream::pos_type end = start + static_cast<std::streamoff>(length);
  while (stream && end - stream.tellg() >= ZipGenericExtraField::HeadSize) {
    ZipGenericExtraField field;
    if (!field.Deserialize(stream, end)) break;
    fields.push_back(std::move(field));
  }
}

bool DeserializeNameAndExtraArea(std::istream& stream, std::string& name, uint16_t nameLength, uint16_t extraLength,
                                 std::vector<ZipGenericExtraField>& fields) {
  ReadBytes(stream, name, nameLength);
  if (!stream) {
    stream.clear();
    return false;
  }
  const std::istream::pos_type extraStart = stream.tellg();
  DeserializeExtraFields(stream, extraLength, fields);
  stream.clear();
  stream.seekg(extraStart + static_cast<std::streamoff>(extraLength));
  if (!stream) {
    stream.clear();
    return false;
  }
  return true;
}

}  // namespace detail
