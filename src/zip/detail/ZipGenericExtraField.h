// One extra field of a ZIP header: a 2-byte tag, a 2-byte size and that many
// data bytes. No tag is interpreted; the fields are kept as read.
//
// Deserialize fails (returns false) when the field's head cannot be read or
// its declared size runs past the end of the header's extra area.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace detail {

struct ZipGenericExtraField {
  static constexpr std::streamoff HeadSize = 4;

  uint16_t Tag = 0;
  uint16_t Size = 0;
  std::vector<uint8_t> Data;

  // Reads one field at the stream's position; `extraFieldEnd` is where the
  // header's extra area ends. REQUIRES: at least HeadSize bytes remain
  // before `extraFieldEnd`.
  bool Deserialize(std::istream& stream, std::istream::pos_type extraFieldEnd);
};

// Reads fields while at least a field head fits before the end of an extra
// area of `length` bytes starting at the stream's position; stops at the first
// field that does not fit. The stream is left where reading stopped.
void DeserializeExtraFields(std::istream& stream, uint16_t length, std::vector<ZipGenericExtraField>& fields);

// Reads a header's file name and its extra area, then leaves the stream at the
// end of the declared area however its fields parsed: what follows (the
// comment, or the entry's data) starts there. Returns false, with the stream's
// error state cleared, when the name or the area runs past the end.
bool DeserializeNameAndExtraArea(std::istream& stream, std::string& name, uint16_t nameLength, uint16_t extraLength,
                                 std::vector<ZipGenericExtraField>& fields);

}  // namespace detail
