#include "driver/ManifestReader.h"

#include <algorithm>
#include <cstdint>
#include <istream>
#include <memory>

#include "zip/ZipArchive.h"
#include "zip/ZipArchiveEntry.h"
#include "zip/ZipFile.h"

namespace {

const char* const kManifestName = "manifest.json";
constexpr std::size_t kBlockSize = 32768;

// Appends up to `size` bytes of `stream` to `text`, block by block, so that a
// size declared far beyond the real data costs no memory up front. Returns
// whether all `size` bytes came.
bool copyBytes(std::istream& stream, std::size_t size, std::string& text) {
  char block[kBlockSize];
  while (text.size() < size) {
    std::size_t wanted = std::min(kBlockSize, size - text.size());
    stream.read(block, static_cast<std::streamsize>(wanted));
    std::streamsize got = stream.gcount();
    text.append(block, static_cast<std::size_t>(got));
    if (static_cast<std::size_t>(got) < wanted) return false;
  }
  return true;
}

}  // namespace

Manifest readManifest(const std::string& packagePath) {
  Manifest manifest;
  std::shared_ptr<ZipArchive> archive = ZipFile::Open(packagePath);
  std::shared_ptr<ZipArchiveEntry> entry = archive->GetEntry(kManifestName);
  if (!entry) {
    manifest.status = ManifestStatus::Missing;
    return manifest;
  }
  const std::uint64_t size = entry->GetSize();
  if (size == 0) {
    manifest.status = ManifestStatus::Empty;
    return manifest;
  }
  if (size > kMaxManifestSize) {
    manifest.status = ManifestStatus::TooLarge;
    return manifest;
  }
  std::istream* stream = entry->GetDecompressionStream();
  bool complete = stream != nullptr && copyBytes(*stream, static_cast<std::size_t>(size), manifest.text);
  // The entry's streams read through the archive's file: close them before
  // the archive goes.
  entry->CloseDecompressionStream();
  manifest.status = complete ? ManifestStatus::Read : ManifestStatus::Unreadable;
  if (!complete) manifest.text.clear();
  return manifest;
}
