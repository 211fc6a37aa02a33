// EntryData: reading one archive entry's data for the unzip action, checked,
// into a string or into a temporary file beside its target.
//
// The reader checks neither the size nor the CRC-32 of an entry, so every
// copy here does: a short, long or damaged entry is an error (runtime_error
// "Archive entry NAME is corrupt: ..."), never a file that passes for good.
// decodeEntry() keeps its errors in its result instead of throwing, so that
// it can run on a worker thread and the caller raise them in archive order.
#pragma once

#include <cstddef>
#include <exception>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileDescriptor.h"
#include "zip/ZipArchiveEntry.h"

namespace unzip {

// Large enough that a big entry costs few write calls, small enough to stay
// far below the memory budget of the whole run.
constexpr std::size_t kCopyBlock = 256 * 1024;

// Called between blocks; throws to abandon the copy (an interrupt).
using Checkpoint = std::function<void()>;

// Whether the entry stores a symbolic link (its Unix mode says so).
bool isSymlinkEntry(const ZipArchiveEntry& entry);

[[noreturn]] void corrupt(const std::string& name, const std::string& what);

// The entry's data stream, or null when the entry is to be skipped without
// a file (encrypted, or of a newer format). Throws runtime_error when the
// data cannot be read or its method cannot be decoded. The caller closes the
// stream (ZipArchiveEntry::CloseDecompressionStream).
std::istream* openEntryData(ZipArchiveEntry& entry);

// Reads all of the entry's data from `in` into memory.
std::string readChecked(std::istream& in, const ZipArchiveEntry& entry, std::vector<char>& buffer,
                        const Checkpoint& checkpoint);

// An entry decoded into its temporary file, or why not.
struct DecodedFile {
  // True when the entry has no data to unpack and is skipped.
  bool skipped = false;
  // Raised before the target is looked at: unreadable data, unknown method.
  std::exception_ptr dataError;
  // Raised while the file was written: damaged data, a write failure, an
  // interrupt.
  std::exception_ptr writeError;
  // The complete, checked and closed file with its permission bits, not yet
  // renamed into place; null unless there was no error.
  std::unique_ptr<platform::AtomicFile> file;
};

// Where an entry's file goes: the open directory, the target's name in it,
// its path for messages and the temporary name reserved for it.
struct FilePlace {
  platform::FileDescriptor directory;
  std::string name;
  std::filesystem::path shownAs;
  std::string temporary;
};

// Decodes `entry` into a new temporary file at `place`, with `buffer` as
// the copy block. Never throws; the entry's data stream is closed at the end.
DecodedFile decodeEntry(ZipArchiveEntry& entry, FilePlace place, std::vector<char>& buffer,
                        const Checkpoint& checkpoint);

}  // namespace unzip
