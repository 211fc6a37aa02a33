// Reads the manifest entry "manifest.json" of an update package into memory.
//
// readManifest opens the package, copies the entry's uncompressed bytes out
// of its decompression stream in blocks, and releases the archive before it
// returns. The outcome says which of the driver's messages applies; nothing
// is printed here. Failure: ZipFile::Open's exception when the package can be
// neither opened nor created passes through; every other problem is an
// outcome.
#pragma once

#include <cstddef>
#include <string>

enum class ManifestStatus {
  Read,        // text holds exactly the entry's declared size in bytes
  Missing,     // the package has no entry named "manifest.json"
  Empty,       // the entry's uncompressed size is 0
  Unreadable,  // no data stream (e.g. encrypted), or the data ended early
  TooLarge,    // the declared size is above kMaxManifestSize; nothing was read
};

// No real manifest comes near this; the bound keeps a small package from
// making the run read and parse gigabytes.
constexpr std::size_t kMaxManifestSize = 16 * 1024 * 1024;

struct Manifest {
  ManifestStatus status = ManifestStatus::Missing;
  std::string text;
};

Manifest readManifest(const std::string& packagePath);
