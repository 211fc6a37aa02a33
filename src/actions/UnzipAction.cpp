#include "actions/UnzipAction.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <set>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "actions/ActionFields.h"
#include "actions/QuotedPath.h"
#include "alias/AliasResolver.h"
#include "platform/AtomicFile.h"
#include "platform/ChangeGuard.h"
#include "platform/ConfinedDirectory.h"
#include "platform/Interrupt.h"
#include "platform/SystemError.h"
#include "zip/Crc32.h"
#include "zip/ZipArchive.h"
#include "zip/ZipArchiveEntry.h"
#include "zip/ZipFile.h"
#include "zip/methods/ZipMethodResolver.h"

namespace fs = std::filesystem;

namespace {

// Large enough that a big entry costs few write calls, small enough to stay
// far below the memory budget of the whole run.
constexpr std::size_t kCopyBlock = 256 * 1024;
// The longest link text the system accepts (PATH_MAX less its NUL).
constexpr std::uint32_t kMaxLinkText = 4095;

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

bool isSymlink(const ZipArchiveEntry& entry) { return (unixMode(entry) & S_IFMT) == S_IFLNK; }

bool listed(const std::vector<std::string>& list, const std::string& name) {
  for (const std::string& item : list) {
    if (item == name) return true;
  }
  return false;
}

void skipOutside(const std::string& name) { std::cout << "Skip unzip file (outside destination)" << name << std::endl; }

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

[[noreturn]] void corrupt(const std::string& name, const std::string& what) {
  throw std::runtime_error("Archive entry " + name + " is corrupt: " + what);
}

// Hands the entry's data to `sink` block by block and checks that exactly
// the declared number of bytes came, with the declared CRC-32. The reader
// checks neither, and a short or damaged entry must not pass for a good one.
template <class Sink>
void copyChecked(std::istream& in, const ZipArchiveEntry& entry, std::vector<char>& buffer, Sink&& sink) {
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
    platform::throwIfInterrupted();
  }
  if (total != size) corrupt(entry.GetFullName(), std::to_string(total) + " of " + std::to_string(size) + " bytes");
  if (crc.value() != entry.GetCrc32()) corrupt(entry.GetFullName(), "CRC-32 mismatch");
}

// The directories files are unpacked into, each swept once of the
// temporary files that killed updater processes left there. Keyed by the
// path inside the destination: a directory reached by two paths is swept
// twice, which is harmless.
class SweptDirectories {
 public:
  void sweep(const fs::path& relative, int directory) {
    if (_seen.insert(relative.native()).second) platform::removeStaleTemporaries(directory);
  }

 private:
  std::set<std::string> _seen;
};

// Unpacks a file entry into the open directory `directory` under `name`.
void unpackFile(ZipArchiveEntry& entry, std::istream& in, platform::FileDescriptor directory, const std::string& name,
                const fs::path& target, std::vector<char>& buffer) {
  // A file is never put in place of a directory: renaming over it would fail
  // anyway, but only after the whole entry had been unpacked for nothing.
  struct stat info;
  if (::fstatat(directory.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
    platform::throwSystemError("cannot unzip file", target, EISDIR);
  }
  platform::AtomicFile file(std::move(directory), name, target);
  copyChecked(in, entry, buffer, [&file](const char* bytes, std::size_t count) { file.write(bytes, count); });
  // Without a stored mode (archives made on other systems) the file keeps
  // the bits a new file gets rather than becoming unreadable.
  if (hasUnixMode(entry)) file.setPermissions(unixMode(entry) & 07777);
  file.commit();
}

void unpackSymlink(ZipArchiveEntry& entry, std::istream& in, const fs::path& relative,
                   platform::ConfinedDirectory& tree, std::vector<char>& buffer) {
  const std::string& name = entry.GetFullName();
  if (entry.GetSize() > kMaxLinkText) corrupt(name, "symbolic link text longer than 4095 bytes");
  std::string text;
  copyChecked(in, entry, buffer, [&text](const char* bytes, std::size_t count) { text.append(bytes, count); });
  if (text.find('\0') != std::string::npos) corrupt(name, "symbolic link text holds a NUL byte");
  if (!tree.placeSymlink(relative, text)) skipOutside(name);
}

// The reader turns a file that is not a ZIP archive, or one cut short (which
// loses the end record), into an archive without entries; unpacking nothing
// from it must not pass for success. An empty file, such as the one made for
// a missing source, stands for an empty archive.
void requireEndRecord(const ZipArchive& archive, const std::string& archivePath) {
  if (archive.GetArchiveSize() == 0 || archive.HasEndOfCentralDirectory()) return;
  throw std::runtime_error("Not a ZIP archive: " + archivePath);
}

}  // namespace

UnzipAction::UnzipAction(const rapidjson::Value& object) : FilesActionInterface(object) {
  std::optional<std::string> sourceText = fields::readString(object, "source");
  std::optional<std::string> destinationText;
  if (sourceText) destinationText = fields::readString(object, "destination");
  if (!destinationText) {
    fields::reportParseFailure("Unzip");
    return;
  }
  _source = *sourceText;
  _destinationAsWritten = *destinationText;
  _valid = true;
}

void UnzipAction::perform() {
  std::cout << "Unzip archive " << _source << " to " << _destinationAsWritten << std::endl;
  const std::string archivePath = AliasResolver::getInstance().resolve(_source);
  std::cout << "Open zip file " << archivePath << std::endl;
  std::shared_ptr<ZipArchive> archive = ZipFile::Open(archivePath);

  const fs::path destinationPath(_destinationAsWritten);
  if (!fs::exists(destinationPath)) platform::createDirectories(destinationPath);
  platform::ConfinedDirectory tree(destinationPath);

  const auto count = archive->GetEntriesCount();
  if (count == 0) requireEndRecord(*archive, archivePath);
  std::cout << "Entries count " << count << std::endl;
  std::vector<char> buffer(kCopyBlock);
  SweptDirectories swept;
  for (decltype(+count) index = 0; index < count; ++index) {
    platform::throwIfInterrupted();
    std::shared_ptr<ZipArchiveEntry> entry = archive->GetEntry(static_cast<int>(index));
    const std::string& name = entry->GetFullName();
    const bool directory = entry->IsDirectory();

    // Names are resolved lexically before anything is created for them, so
    // that no directory is made outside either, not even for skipped files.
    std::optional<fs::path> relative = platform::ConfinedDirectory::relativePath(name);
    if (!relative || (!directory && relative->empty())) {
      skipOutside(name);
      continue;
    }
    if (directory) {
      if (!tree.createDirectories(*relative)) skipOutside(name);
      continue;
    }
    std::optional<platform::FileDescriptor> directoryOfFile = tree.openDirectory(relative->parent_path());
    if (!directoryOfFile) {
      skipOutside(name);
      continue;
    }

    if (!_includeList.empty() && !listed(_includeList, name)) {
      std::cout << "Skip unzip file (not in include list)" << name << std::endl;
      continue;
    }
    if (listed(_excludeList, name)) {
      std::cout << "Skip unzip file (in exclude list)" << name << std::endl;
      continue;
    }
    std::cout << "Unzip file: " << name << ", size:" << entry->GetSize()
              << ", to: " << quotedPath(destinationPath / name) << std::endl;

    std::istream* in = entry->GetDecompressionStream();
    if (in == nullptr) {
      // Encrypted entries and newer formats are skipped; any other entry
      // without data is damaged, and leaving it out must not pass for success.
      if (entry->IsPasswordProtected() || !entry->CanExtract()) continue;
      corrupt(name, "its data cannot be read");
    }
    StreamCloser closer(*entry);
    // Without its decoder the stored bytes would come through undecoded.
    if (!ZipMethodResolver::IsSupported(entry->GetCompressionMethod())) {
      throw std::runtime_error("Archive entry " + name + " uses compression method " +
                               std::to_string(entry->GetCompressionMethod()) + ", which the updater cannot read");
    }
    if (isSymlink(*entry)) {
      unpackSymlink(*entry, *in, *relative, tree, buffer);
    } else {
      swept.sweep(relative->parent_path(), directoryOfFile->get());
      unpackFile(*entry, *in, std::move(*directoryOfFile), relative->filename().string(), tree.root() / *relative,
                 buffer);
    }
  }
}
