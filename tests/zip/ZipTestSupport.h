// Helpers for the ZIP reader's tests: archives over bytes in memory, whole
// reads, compressible test data.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <istream>
#include <random>
#include <sstream>
#include <string>

#include "support/Helpers.h"
#include "support/ZipBuilder.h"
#include "zip/ZipArchive.h"

namespace zip_test {

using testing_support::patch;
using testing_support::ZipBuilder;
using testing_support::ZipEntrySpec;

// An archive over its own copy of `bytes`.
inline ZipArchive::Ptr OpenBytes(const std::string& bytes) {
  return ZipArchive::Create(new std::istringstream(bytes, std::ios::in | std::ios::binary), true);
}

// Everything the stream yields until its end; "<null>" for a null stream.
inline std::string ReadAll(std::istream* stream) {
  if (stream == nullptr) return "<null>";
  std::string out;
  char buffer[5000];  // deliberately not a divisor of the layers' 32 KiB
  while (stream->read(buffer, sizeof(buffer)), stream->gcount() > 0) out.append(buffer, stream->gcount());
  return out;
}

// Reads the named entry whole and closes its chain again.
inline std::string ReadEntry(const ZipArchive::Ptr& archive, const std::string& name) {
  auto entry = archive->GetEntry(name);
  if (entry == nullptr) return "<no entry>";
  std::string data = ReadAll(entry->GetDecompressionStream());
  entry->CloseDecompressionStream();
  return data;
}

inline ZipEntrySpec Spec(const std::string& name, const std::string& data = "", uint16_t method = 0,
                         bool lzmaEndMarker = true) {
  ZipEntrySpec spec = testing_support::makeEntry(name, data, method);
  spec.lzmaEndMarker = lzmaEndMarker;
  return spec;
}

// Words mixed with random bytes, compressible like real files; seeded.
inline std::string MakeData(size_t size, uint32_t seed = 1) {
  static const char* const words[] = {"update", "archive", "manifest", "entry", "stream", "buffer", "decode",
                                      "the",    "of",      "and",      "to",    "file",   "path",   "zip"};
  std::mt19937 random(seed);
  std::string data;
  for (uint32_t pick; data.size() < size;) {
    pick = random() % 20;
    data += pick < 14 ? words[pick] + std::string(random() % 9 ? " " : "\n") : std::string(1, char(random()));
  }
  data.resize(size);
  return data;
}

// Equality of large byte strings, reported by size and first difference.
inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& expected) {
  if (got == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, expected " << expected.size()
                                       << "; first difference at byte " << at;
}

}  // namespace zip_test
