#include "actions/EntryData.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "zip/Crc32.h"
#include "zip/methods/ZipMethodResolver.h"

namespace unzip {
namespace {

// The Unix mode stored by Unix archivers in the upper half of the external
// attributes.
mode_t unixMode(const ZipArchiveEntry& entry) { return static_cast<mode_t>(entry.GetAttributes() >> 16); }

// Whether the entry carries a Unix mode at all: it was made on a Unix-like
// system (host byte of "version made by": 3 Unix, 19 macOS) and the mode has
// its file-type bits. Other archivers leave the upper half zero or fill it
// with something else; a stored mode is applied as it is, even 0000.
bool hasUnixMode(const ZipArchiveEntry& entry) {
  const unsigned host = entry.GetVersionMadeBy() >> 8;
  return (host == 3 || host == 19) && (unixMode(entry) & S_IFMT) != 0;
}

// Releases the entry's decoder chain when the entry is done with; otherwise
// every entry would keep its buffers until the archive goes.
class StreamCloser {
 public:
  explicit StreamCloser(ZipArchiveEntry& entry) : _entry(entry) {}
  ~StreamCloser() { _entry.CloseDecompressionStream(); }
  StreamCloser(const StreamCloser&) = delete;
  StreamCloser& operator=(const StreamCloser&) = delete;

 private:
  ZipArchiveEntry& _entry;
};

// Hands the entry's data to `sink` block by block and checks that exactly
// the declared number of bytes came, with the declared CRC-32.
template <class Sink>
void copyChecked(std::istream& in, const ZipArchiveEntry& entry, std::vector<char>& buffer,
                 const Checkpoint& checkpoint, Sink&& sink) {
  const std::uint64_t size = entry.GetSize();
  std::streambuf& data = *in.rdbuf();
  std::uint64_t total = 0;
  Crc32 crc;
  // One byte past the declared size is asked for, to see data that runs on.
  while (total <= size) {
    std::uint64_t wanted = std::min<std::uint64_t>(buffer.size(), size + 1 - total);
    std::streamsize got = data.sgetn(buffer.data(), static_cast<std::streamsize>(wanted));
    if (got <= 0) break;
    total += static_cast<std::uint64_t>(got);
    if (total > size) corrupt(entry.GetFullName(), "more than " + std::to_string(size) + " bytes");
    crc.update(buffer.data(), static_cast<std::size_t>(got));
    sink(buffer.data(), static_cast<std::size_t>(got));
    checkpoint();
  }
  if (total != size) corrupt(entry.GetFullName(), std::to_string(total) + " of " + std::to_string(size) + " bytes");
  if (crc.value() != entry.GetCrc32()) corrupt(entry.GetFullName(), "CRC-32 mismatch");
}

}  // namespace

bool isSymlinkEntry(const ZipArchiveEntry& entry) { return (unixMode(entry) & S_IFMT) == S_IFLNK; }

void corrupt(const std::string& name, const std::string& what) {
  throw std::runtime_error("Archive entry " + name + " is corrupt: " + what);
}

std::istream* openEntryData(ZipArchiveEntry& entry) {
  std::istream* in = entry.GetDecompressionStream();
  if (in == nullptr) {
    // Encrypted entries and newer formats are skipped; any other entry
    // without data is damaged, and leaving it out must not pass for success.
    if (entry.IsPasswordProtected() || !entry.CanExtract()) return nullptr;
    corrupt(entry.GetFullName(), "its data cannot be read");
  }
  // Without its decoder the stored bytes would come through undecoded.
  if (!ZipMethodResolver::IsSupported(entry.GetCompressionMethod())) {
    entry.CloseDecompressionStream();
    throw std::runtime_error("Archive entry " + entry.GetFullName() + " uses compression method " +
                             std::to_string(entry.GetCompressionMethod()) + ", which the updater cannot read");
  }
  return in;
}

std::string readChecked(std::istream& in, const ZipArchiveEntry& entry, std::vector<char>& buffer,
                        const Checkpoint& checkpoint) {
  std::string text;
  copyChecked(in, entry, buffer, checkpoint,
              [&text](const char* bytes, std::size_t count) { text.append(bytes, count); });
  return text;
}

DecodedFile decodeEntry(ZipArchiveEntry& entry, FilePlace place, std::vector<char>& buffer,
                        const Checkpoint& checkpoint) {
  DecodedFile decoded;
  std::istream* in = nullptr;
  try {
    in = openEntryData(entry);
  } catch (...) {
    decoded.dataError = std::current_exception();
    return decoded;
  }
  if (in == nullptr) {
    decoded.skipped = true;
    return decoded;
  }
  StreamCloser closer(entry);
  try {
    auto file =
        std::make_unique<platform::AtomicFile>(std::move(place.directory), place.name, place.shownAs, place.temporary);
    copyChecked(*in, entry, buffer, checkpoint,
                [&file](const char* bytes, std::size_t count) { file->write(bytes, count); });
    // Without a stored mode (archives made on other systems) the file keeps
    // the bits a new file gets rather than becoming unreadable.
    if (hasUnixMode(entry)) file->setPermissions(unixMode(entry) & 07777);
    // Closed here, on the decoding thread, rather than by the one that
    // places the files in turn; a window of decoded files then holds only
    // their directories open.
    file->finish();
    decoded.file = std::move(file);
  } catch (...) {
    decoded.writeError = std::current_exception();
  }
  return decoded;
}

}  // namespace unzip
