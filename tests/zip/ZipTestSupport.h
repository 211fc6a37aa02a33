// Helpers for the ZIP reader's tests: archives opened from bytes in memory,
// whole-stream reads, test data of realistic compressibility, and in-place
// patching of little-endian fields.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <istream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "zip/ZipArchive.h"

namespace zip_test {

// An archive over its own copy of `bytes`.
inline ZipArchive::Ptr OpenBytes(const std::string& bytes) {
  return ZipArchive::Create(new std::istringstream(bytes, std::ios::in | std::ios::binary), true);
}

// Everything the stream yields until its end; "<null>" for a null stream.
inline std::string ReadAll(std::istream* stream) {
  if (stream == nullptr) return "<null>";
  std::ostringstream out;
  char buffer[5000];  // deliberately not a divisor of the layers' 32 KiB
  for (;;) {
    stream->read(buffer, sizeof(buffer));
    if (stream->gcount() == 0) break;
    out.write(buffer, stream->gcount());
  }
  return out.str();
}

// Text-like data: words from a small vocabulary in pseudo-random order,
// mixed with some random bytes, so compressors work about as hard as on real
// files. Deterministic for a given seed.
inline std::string MakeData(size_t size, uint32_t seed = 1) {
  static const char* const words[] = {"update", "archive", "manifest", "entry", "stream", "buffer", "decode",
                                      "the",    "of",      "and",      "to",    "file",   "path",   "zip"};
  std::mt19937 random(seed);
  std::string data;
  data.reserve(size + 16);
  while (data.size() < size) {
    const uint32_t pick = random() % 20;
    if (pick < 14) {
      data += words[pick];
      data += (random() % 9 == 0) ? '\n' : ' ';
    } else {
      data += static_cast<char>(random() & 0xFF);
    }
  }
  data.resize(size);
  return data;
}

// Equality of large byte strings, reported by size and first difference
// instead of printing both strings whole.
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& expected) {
  if (got == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, expected " << expected.size()
                                       << "; first difference at byte " << at;
}

inline void Put16(std::string& bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<char>(value & 0xFF);
  bytes[offset + 1] = static_cast<char>(value >> 8);
}

inline void Put32(std::string& bytes, size_t offset, uint32_t value) {
  Put16(bytes, offset, static_cast<uint16_t>(value & 0xFFFF));
  Put16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

}  // namespace zip_test
