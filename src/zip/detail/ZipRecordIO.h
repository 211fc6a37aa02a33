// Little-endian field reading for the ZIP on-disk records.
//
// Each field is read with one unformatted read of its exact width and put
// together byte by byte, so the result does not depend on the host's byte
// order. Failure: the stream's state tells (a short read sets failbit); the
// field then holds whatever bytes were read, zero-filled.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace detail {

template <typename T>
void ReadLittleEndian(std::istream& stream, T& value) {
  unsigned char bytes[sizeof(T)] = {};
  stream.read(reinterpret_cast<char*>(bytes), sizeof(T));
  T result = 0;
  for (size_t i = sizeof(T); i > 0; --i) {
    result = static_cast<T>((result << 8) | bytes[i - 1]);
  }
  value = result;
}

// Reads `length` bytes into `text`; on a short read `text` holds only the
// bytes that came. Never allocates more than the stream actually delivers
// plus one fixed-size chunk.
inline void ReadBytes(std::istream& stream, std::string& text, size_t length) {
  text.clear();
  char chunk[4096];
  while (length > 0) {
    const size_t want = length < sizeof(chunk) ? length : sizeof(chunk);
    stream.read(chunk, static_cast<std::streamsize>(want));
    const auto got = static_cast<size_t>(stream.gcount());
    text.append(chunk, got);
    if (got != want) return;
    length -= got;
  }
}

}  // namespace detail
