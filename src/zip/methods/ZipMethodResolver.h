// Maps a ZIP compression method number to a new method object.
//
// Failure: null for a method number that is not 0, 8, 12 or 14 (the caller
// then reads the stored bytes undecoded).
#pragma once

#include <cstdint>

#include "zip/methods/ICompressionMethod.h"

class ZipMethodResolver {
 public:
  // Every call builds a new object, so no two chains share a decoder.
  static ICompressionMethod::Ptr GetZipMethodInstance(uint16_t compressionMethod);
  // Whether GetZipMethodInstance gives a method for the number; builds none.
  static bool IsSupported(uint16_t compressionMethod);
};
