#include "actions/UnzipAction.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "actions/ActionFields.h"
#include "actions/DecodingPool.h"
#include "actions/EntryData.h"
#include "actions/QuotedPath.h"
#include "alias/AliasResolver.h"
#include "platform/AtomicFile.h"
#include "platform/ChangeGuard.h"
#include "platform/ConfinedDirectory.h"
#include "platform/Interrupt.h"
#include "platform/SystemError.h"
#include "zip/ZipArchive.h"
#include "zip/ZipArchiveEntry.h"
#include "zip/ZipFile.h"

namespace fs = std::filesystem;

namespace {

// The longest link text the system accepts (PATH_MAX less its NUL).
constexpr std::uint32_t kMaxLinkText = 4095;
// Decoding threads at most, however many cores: past this the disk and the
// thread that places the files are the limit.
constexpr unsigned kMaxThreads = 8;
// Entries handed to the workers ahead of the one being placed, per worker:
// enough to keep them busy while a large entry or a run of small files is
// placed (4 left them idle often), and in all at most kMaxAhead, so that
// the directories held open (one per entry ahead) stay a few dozen.
constexpr std::size_t kAheadPerWorker = 16;
constexpr std::size_t kMaxAhead = 64;

void skipOutside(const std::string& name) { std::cout << "Skip unzip file (outside destination)" << name << std::endl; }

bool listed(const std::vector<std::string>& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

// The number of threads that decode entries: UPDATER_THREADS when it is a
// number from 1 up (1: the entries are decoded one after another by the
// thread that places them), else one per core; never more than kMaxThreads.
unsigned decodingThreads() {
  unsigned threads = std::thread::hardware_concurrency();
  if (const char* text = std::getenv("UPDATER_THREADS")) {
    char* end = nullptr;
    const unsigned long asked = std::strtoul(text, &end, 10);
    if (end != text && *end == '\0' && asked >= 1)
      threads = static_cast<unsigned>(std::min<unsigned long>(asked, kMaxThreads));
  }
  return std::clamp(threads, 1u, kMaxThreads);
}

// What becomes of an entry, as far as its name and the include and exclude
// lists tell. Whether the way to its directory stays inside the destination
// is for the caller to find out on disk.
class EntryAdmission {
 public:
  enum class Verdict { Outside, Directory, NotIncluded, Excluded, Unpack };
  struct Decision {
    Verdict verdict;
    fs::path relative;  // the entry's path inside the destination, unless Outside
  };

  EntryAdmission(const std::vector<std::string>& include, const std::vector<std::string>& exclude)
      : _include(include), _exclude(exclude) {}

  Decision decide(const ZipArchiveEntry& entry) const {
    const std::string& name = entry.GetFullName();
    const bool directory = entry.IsDirectory();
    // Names are resolved lexically before anything is created for them, so
    // that no directory is made outside either, not even for skipped files.
    std::optional<fs::path> relative = platform::ConfinedDirectory::relativePath(name);
    if (!relative || (!directory && relative->empty())) return {Verdict::Outside, {}};
    if (directory) return {Verdict::Directory, std::move(*relative)};
    if (!_include.empty() && !listed(_include, name)) return {Verdict::NotIncluded, std::move(*relative)};
    if (listed(_exclude, name)) return {Verdict::Excluded, std::move(*relative)};
    return {Verdict::Unpack, std::move(*relative)};
  }

 private:
  const std::vector<std::string>& _include;
  const std::vector<std::string>& _exclude;
};

// Hands the file entries that follow the one being placed, up to a window
// ahead, to the decoding workers, once their directory exists: directories
// are created only at their entry's turn. At its turn an entry's file is
// taken from its worker when the worker wrote it into the very directory the
// turn resolved; otherwise (not handed over, or the way changed through a
// link that an earlier entry replaced) it is decoded there and then. So the
// placing thread sees the entries exactly as if they were decoded in turn.
class Lookahead {
 public:
  Lookahead(ZipArchive& archive, const EntryAdmission& admission, const platform::ConfinedDirectory& tree,
            unsigned workers)
      : _archive(archive),
        _admission(admission),
        _tree(tree),
        _workers(workers > 1 ? workers : 0),
        _window(std::min(kAheadPerWorker * _workers, kMaxAhead)),
        _state(archive.GetEntriesCount(), State::Unseen) {}

  // Looks at the entries from `current` to the end of the window: each is
  // given its temporary name when first seen, in archive order, and handed
  // to a worker once its directory exists.
  void advance(std::size_t current) {
    const std::size_t end = std::min(_state.size(), current + 1 + _window);
    for (std::size_t index = current; index < end; ++index) {
      State& state = _state[index];
      if (state == State::Submitted || state == State::Never) continue;
      if (state == State::Unseen) {
        std::shared_ptr<ZipArchiveEntry> entry = _archive.GetEntry(static_cast<int>(index));
        EntryAdmission::Decision decision = _admission.decide(*entry);
        // Links are placed at their turn; encrypted and newer entries are
        // skipped without a file.
        if (decision.verdict != EntryAdmission::Verdict::Unpack || unzip::isSymlinkEntry(*entry) ||
            entry->IsPasswordProtected() || !entry->CanExtract()) {
          state = State::Never;
          continue;
        }
        // The names follow the archive's order whichever thread writes first,
        // so that messages naming them are the same in every run.
        _waiting[index] = {platform::reserveTemporaryName(), std::move(decision.relative)};
        state = State::Waiting;
      }
      if (_workers == 0) continue;
      const Waiting& waiting = _waiting[index];
      const fs::path parent = waiting.relative.parent_path();
      // A directory found missing is not looked for again until a turn makes
      // directories on its way: in an archive that fills many directories
      // in turn, every entry of the window would otherwise walk its way
      // again at every turn.
      if (_missing.count(parent.native()) != 0) continue;
      std::optional<platform::FileDescriptor> directory = _tree.findDirectory(parent);
      struct stat info;
      if (!directory || ::fstat(directory->get(), &info) != 0) {
        _missing.insert(parent.native());
        continue;
      }
      unzip::DecodingPool* workers = pool();
      if (workers == nullptr) return;
      _submittedTo[index] = {info.st_dev, info.st_ino};
      workers->submit({index,
                       _archive.GetEntry(static_cast<int>(index)),
                       {std::move(*directory), waiting.relative.filename().string(), _tree.root() / waiting.relative,
                        waiting.temporary}});
      state = State::Submitted;
    }
  }

  // The turn has made (or found) the directory `relative` and those on its
  // way: entries waiting for one of them are handed over again.
  void madeDirectory(const fs::path& relative) {
    if (_missing.empty()) return;
    for (fs::path level = relative; !level.empty(); level = level.parent_path()) _missing.erase(level.native());
  }

  // The turn has placed a link, which may lead anywhere a directory was
  // missing.
  void placedLink() { _missing.clear(); }

  // The entry `index` (seen by advance()) decoded into a temporary file for
  // `relative` in the open `directory`.
  unzip::DecodedFile take(std::size_t index, ZipArchiveEntry& entry, int directory, const fs::path& relative,
                          std::vector<char>& buffer) {
    const std::string temporary = std::move(_waiting[index].temporary);
    _waiting.erase(index);
    if (_state[index] == State::Submitted) {
      _state[index] = State::Never;
      const Identity where = _submittedTo[index];
      _submittedTo.erase(index);
      unzip::DecodedFile decoded = _pool->take(index, buffer);
      struct stat info;
      if (::fstat(directory, &info) == 0 && info.st_dev == where.device && info.st_ino == where.inode) return decoded;
      // Decoded for another directory: dropped here with its temporary file.
    }
    platform::FileDescriptor own(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
    if (!own) platform::throwSystemError("cannot open directory", _tree.root() / relative.parent_path(), errno);
    return unzip::decodeEntry(entry, {std::move(own), relative.filename().string(), _tree.root() / relative, temporary},
                              buffer, platform::throwIfInterrupted);
  }

  // Forgets the entry `index`, which is not unpacked after all; a file
  // decoded for it goes with its temporary.
  void discard(std::size_t index) {
    _waiting.erase(index);
    if (_state[index] != State::Submitted) return;
    _state[index] = State::Never;
    _submittedTo.erase(index);
    _pool->drop(index);
  }

 private:
  enum class State : unsigned char { Unseen, Waiting, Submitted, Never };
  struct Identity {
    dev_t device;
    ino_t inode;
  };
  // An entry seen and not yet handed over or taken.
  struct Waiting {
    std::string temporary;
    fs::path relative;
  };

  // The pool, started with the first entry handed over; null when no
  // thread can be started, and the entries are then decoded in turn.
  unzip::DecodingPool* pool() {
    if (_pool == nullptr && _workers > 0) {
      try {
        _pool = std::make_unique<unzip::DecodingPool>(_workers);
      } catch (const std::system_error&) {
        _workers = 0;
      }
    }
    return _pool.get();
  }

  ZipArchive& _archive;
  const EntryAdmission& _admission;
  const platform::ConfinedDirectory& _tree;
  unsigned _workers;
  std::size_t _window;
  std::vector<State> _state;
  std::map<std::size_t, Identity> _submittedTo;
  std::map<std::size_t, Waiting> _waiting;
  std::set<std::string> _missing;              // directories not there when last looked for
  std::unique_ptr<unzip::DecodingPool> _pool;  // last: stopped before the rest goes
};

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

// A file is never put in place of a directory: renaming over it would fail
// anyway, but only after the whole entry had been unpacked for nothing.
void refuseDirectoryTarget(int directory, const std::string& name, const fs::path& target) {
  struct stat info;
  if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
    platform::throwSystemError("cannot unzip file", target, EISDIR);
  }
}

void unpackSymlink(ZipArchiveEntry& entry, const fs::path& relative, platform::ConfinedDirectory& tree,
                   std::vector<char>& buffer) {
  std::istream* in = unzip::openEntryData(entry);
  if (in == nullptr) return;
  const std::string& name = entry.GetFullName();
  std::string text;
  try {
    if (entry.GetSize() > kMaxLinkText) unzip::corrupt(name, "symbolic link text longer than 4095 bytes");
    text = unzip::readChecked(*in, entry, buffer, platform::throwIfInterrupted);
  } catch (...) {
    entry.CloseDecompressionStream();
    throw;
  }
  entry.CloseDecompressionStream();
  if (text.find('\0') != std::string::npos) unzip::corrupt(name, "symbolic link text holds a NUL byte");
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

  const std::size_t count = archive->GetEntriesCount();
  if (count == 0) requireEndRecord(*archive, archivePath);
  std::cout << "Entries count " << count << std::endl;
  const EntryAdmission admission(_includeList, _excludeList);
  std::vector<char> buffer(unzip::kCopyBlock);
  SweptDirectories swept;
  Lookahead lookahead(*archive, admission, tree, decodingThreads());
  for (std::size_t index = 0; index < count; ++index) {
    platform::throwIfInterrupted();
    lookahead.advance(index);
    std::shared_ptr<ZipArchiveEntry> entry = archive->GetEntry(static_cast<int>(index));
    const std::string& name = entry->GetFullName();
    const EntryAdmission::Decision decision = admission.decide(*entry);
    if (decision.verdict == EntryAdmission::Verdict::Outside) {
      skipOutside(name);
      continue;
    }
    if (decision.verdict == EntryAdmission::Verdict::Directory) {
      if (tree.createDirectories(decision.relative)) {
        lookahead.madeDirectory(decision.relative);
      } else {
        skipOutside(name);
      }
      continue;
    }
    // The directories of skipped files are made too.
    std::optional<platform::FileDescriptor> directory = tree.openDirectory(decision.relative.parent_path());
    if (!directory) {
      lookahead.discard(index);
      skipOutside(name);
      continue;
    }
    lookahead.madeDirectory(decision.relative.parent_path());
    if (decision.verdict == EntryAdmission::Verdict::NotIncluded) {
      std::cout << "Skip unzip file (not in include list)" << name << std::endl;
      continue;
    }
    if (decision.verdict == EntryAdmission::Verdict::Excluded) {
      std::cout << "Skip unzip file (in exclude list)" << name << std::endl;
      continue;
    }
    std::cout << "Unzip file: " << name << ", size:" << entry->GetSize()
              << ", to: " << quotedPath(destinationPath / name) << std::endl;

    if (unzip::isSymlinkEntry(*entry)) {
      unpackSymlink(*entry, decision.relative, tree, buffer);
      lookahead.placedLink();
      continue;
    }
    unzip::DecodedFile decoded = lookahead.take(index, *entry, directory->get(), decision.relative, buffer);
    if (decoded.skipped) continue;
    if (decoded.dataError) std::rethrow_exception(decoded.dataError);
    swept.sweep(decision.relative.parent_path(), directory->get());
    refuseDirectoryTarget(directory->get(), decision.relative.filename().string(), tree.root() / decision.relative);
    if (decoded.writeError) std::rethrow_exception(decoded.writeError);
    decoded.file->commit();
  }
}
