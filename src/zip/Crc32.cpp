#include "zip/Crc32.h"

#if UPDATER_WITH_ISAL
#include <isa-l/crc.h>
#else
#include <zlib.h>

#include <algorithm>
#include <climits>
#endif

void Crc32::update(const char* bytes, size_t count) {
#if UPDATER_WITH_ISAL
  _value = crc32_gzip_refl(_value, reinterpret_cast<const unsigned char*>(bytes), count);
#else
  // zlib takes at most UINT_MAX bytes per call.
  while (count > 0) {
    const size_t step = std::min<size_t>(count, UINT_MAX);
    _value = static_cast<uint32_t>(crc32(_value, reinterpret_cast<const Bytef*>(bytes), static_cast<uInt>(step)));
    bytes += step;
    count -= step;
  }
#endif
}
