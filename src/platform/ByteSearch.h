// Searching memory backwards for a byte: glibc's memrchr where the system
// has it (it scans a word or a vector at a time), a plain loop elsewhere.
#pragma once

#include <cstddef>
#include <cstring>

namespace platform {

// The last occurrence of `byte` in [bytes, bytes + count), or null.
inline const char* findLastByte(const char* bytes, unsigned char byte, size_t count) {
#if defined(__GLIBC__)
  return static_cast<const char*>(::memrchr(bytes, byte, count));
#else
  while (count > 0) {
    --count;
    if (static_cast<unsigned char>(bytes[count]) == byte) return bytes + count;
  }
  return nullptr;
#endif
}

}  // namespace platform
