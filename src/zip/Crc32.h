// The CRC-32 of ZIP entries (the reflected IEEE polynomial, as in gzip),
// computed with ISA-L when the program is built with it and with zlib
// otherwise; both give the same value.
#pragma once

#include <cstddef>
#include <cstdint>

class Crc32 {
 public:
  void update(const char* bytes, size_t count);
  uint32_t value() const { return _value; }

 private:
  uint32_t _value = 0;
};
