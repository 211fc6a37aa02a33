// Fuzz target: a ZIP archive from arbitrary bytes.
//
// Opens the bytes as an archive (over an in-memory stream, or through a file
// with ZipFile::Open for a quarter of the inputs, since file and string
// streams differ on seeks past the end), asks every entry for all of its
// metadata and reads every entry's data to its end, without a password and,
// for encrypted entries, with one. Besides crashes, leaks and undefined
// behaviour it checks the properties the reader promises whatever the bytes:
// normalised names, the directory rule, lookup by name, refusals (version
// above 63, encrypted without a password, a second open chain), that a
// reopened chain yields the same bytes again, and that two chains read
// alternately yield what each yields alone. When deflate runs on ISA-L, each
// deflate entry is also decoded with the zlib decoder, which must deliver the
// same bytes, also from damaged data.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <memory>
#include <sstream>
#include <string>

#include "FuzzCheck.h"
#include "zip/ZipArchive.h"
#include "zip/ZipArchiveEntry.h"
#include "zip/ZipFile.h"
#include "zip/methods/deflate_decoder.h"
#include "zip/streams/compression_decoder_stream.h"
#include "zip/streams/substream.h"

namespace {

// The seed corpus encrypts with this password.
const char* const kPassword = "fuzz";

// Output read per chain is capped so that a small highly compressed entry
// (deflate reaches about 1000:1, bzip2 and LZMA more) keeps executions fast.
constexpr size_t kMaxOutput = 4u << 20;

struct ReadResult {
  size_t bytes = 0;
  uint32_t hash = 2166136261u;  // FNV-1a over what was read
};

ReadResult readAll(std::istream& stream) {
  ReadResult result;
  char buffer[16384];
  while (result.bytes < kMaxOutput) {
    stream.read(buffer, sizeof buffer);
    std::streamsize got = stream.gcount();
    if (got <= 0) break;
    for (std::streamsize i = 0; i < got; ++i) {
      result.hash = (result.hash ^ static_cast<unsigned char>(buffer[i])) * 16777619u;
    }
    result.bytes += static_cast<size_t>(got);
  }
  return result;
}

void checkMetadata(ZipArchive& archive, ZipArchiveEntry& entry) {
  const std::string& fullName = entry.GetFullName();
  FUZZ_CHECK(!fullName.empty());
  FUZZ_CHECK(fullName[0] != '/');
  FUZZ_CHECK(fullName.find('\\') == std::string::npos);
  FUZZ_CHECK(fullName.find("//") == std::string::npos);
  bool endsWithSlash = fullName.back() == '/';
  FUZZ_CHECK(entry.IsDirectory() == endsWithSlash);
  if (entry.IsDirectory()) {
    FUZZ_CHECK(entry.GetSize() == 0);
    FUZZ_CHECK(entry.GetCompressedSize() == 0);
    FUZZ_CHECK(entry.GetCrc32() == 0);
    FUZZ_CHECK(entry.GetName().empty());
  }
  const std::string name = entry.GetName();
  FUZZ_CHECK(name.size() <= fullName.size());
  FUZZ_CHECK(fullName.compare(fullName.size() - name.size(), name.size(), name) == 0);

  auto found = archive.GetEntry(fullName);
  FUZZ_CHECK(found != nullptr);
  FUZZ_CHECK(found->GetFullName() == fullName);

  FUZZ_CHECK(entry.CanExtract() == ((entry.GetVersionToExtract() & 0xFF) <= 63));
  FUZZ_CHECK(entry.IsPasswordProtected() == ((entry.GetGeneralPurposeBitFlag() & 0x0001) != 0));
  FUZZ_CHECK(entry.IsUsingDataDescriptor() == ((entry.GetGeneralPurposeBitFlag() & 0x0008) != 0));
  (void)entry.GetAttributes();
  (void)entry.GetCompressionMethod();
  (void)entry.GetVersionMadeBy();
  (void)entry.GetOffsetOfLocalHeader();
  (void)entry.GetComment();
  (void)entry.GetLastWriteTime();
}

// The LZMA decoder reserves a dictionary of up to the entry's declared size
// (at most 4 GiB). Untouched, that memory costs nothing in the product, but
// AddressSanitizer's bookkeeping makes such a reservation count as hundreds
// of MB resident, beyond the fuzzer's memory limit. Such entries are not read.
constexpr uint32_t kMaxLzmaDeclaredSize = 64u << 20;

// What one chain of an entry delivered.
struct EntryRead {
  bool opened = false;
  ReadResult result;
};

// Reads the entry's data with the password currently set, checking the
// refusals and that a second chain after closing gives the same bytes.
EntryRead checkData(ZipArchiveEntry& entry) {
  if (entry.GetCompressionMethod() == 14 && entry.GetSize() > kMaxLzmaDeclaredSize) return {};
  std::istream* stream = entry.GetDecompressionStream();
  if (!entry.CanExtract()) FUZZ_CHECK(stream == nullptr);
  if (entry.IsPasswordProtected() && entry.GetPassword().empty()) FUZZ_CHECK(stream == nullptr);
  if (stream == nullptr) {
    FUZZ_CHECK(!entry.IsDecompressionStreamOpened());
    return {};
  }
  // One chain per entry at a time.
  FUZZ_CHECK(entry.GetDecompressionStream() == nullptr);
  ReadResult first = readAll(*stream);
  if (entry.GetCompressionMethod() == 0 && !entry.IsPasswordProtected()) {
    FUZZ_CHECK(first.bytes <= entry.GetCompressedSize());
  }
  entry.CloseDecompressionStream();
  FUZZ_CHECK(!entry.IsDecompressionStreamOpened());

  // A new chain starts again at the first byte and decodes the same data.
  if (first.bytes < 65536) {
    std::istream* again = entry.GetDecompressionStream();
    FUZZ_CHECK(again != nullptr);
    ReadResult second = readAll(*again);
    FUZZ_CHECK(second.bytes == first.bytes);
    FUZZ_CHECK(second.hash == first.hash);
    entry.CloseDecompressionStream();
  }
  return {true, first};
}

// Two chains of one archive share its stream: read alternately in small
// steps, each must still deliver what it delivered alone.
void checkInterleaved(ZipArchiveEntry& one, const EntryRead& oneAlone, ZipArchiveEntry& two,
                      const EntryRead& twoAlone) {
  if (!oneAlone.opened || !twoAlone.opened) return;
  if (oneAlone.result.bytes >= kMaxOutput || twoAlone.result.bytes >= kMaxOutput) return;
  std::istream* first = one.GetDecompressionStream();
  std::istream* second = two.GetDecompressionStream();
  FUZZ_CHECK(first != nullptr && second != nullptr);
  ReadResult a, b;
  char buffer[777];
  for (bool more = true; more;) {
    more = false;
    for (auto [stream, result] : {std::pair{first, &a}, std::pair{second, &b}}) {
      stream->read(buffer, sizeof buffer);
      std::streamsize got = stream->gcount();
      for (std::streamsize i = 0; i < got; ++i) {
        result->hash = (result->hash ^ static_cast<unsigned char>(buffer[i])) * 16777619u;
      }
      result->bytes += static_cast<size_t>(got);
      more = more || got > 0;
    }
  }
  FUZZ_CHECK(a.bytes == oneAlone.result.bytes && a.hash == oneAlone.result.hash);
  FUZZ_CHECK(b.bytes == twoAlone.result.bytes && b.hash == twoAlone.result.hash);
  one.CloseDecompressionStream();
  two.CloseDecompressionStream();
}

// The entry's data decoded by the zlib decoder, whatever the build decodes
// deflate with; compared with what the entry's own chain delivered.
void checkSameAsZlib(ZipArchiveEntry& entry, const EntryRead& read, const std::string& bytes) {
#if UPDATER_WITH_ISAL
  if (!read.opened || entry.GetCompressionMethod() != 8 || entry.IsPasswordProtected()) return;
  std::istringstream archiveBytes(bytes);
  StreamSource source(archiveBytes);
  isubstream data(source, entry.GetOffsetOfCompressedData(), static_cast<std::streamsize>(entry.GetCompressedSize()));
  deflate_decoder_properties props;
  compression_decoder_stream zlib(std::make_shared<zlib_deflate_decoder>(), props, data);
  ReadResult reference = readAll(zlib);
  FUZZ_CHECK(reference.bytes == read.result.bytes && reference.hash == read.result.hash);
#else
  (void)entry, (void)read, (void)bytes;
#endif
}

void exercise(const std::shared_ptr<ZipArchive>& archive, const std::string& bytes) {
  FUZZ_CHECK(archive != nullptr);
  (void)archive->GetComment();
  size_t count = archive->GetEntriesCount();
  EntryRead reads[2];
  for (size_t i = 0; i < count; ++i) {
    std::shared_ptr<ZipArchiveEntry> entry = archive->GetEntry(static_cast<int>(i));
    FUZZ_CHECK(entry != nullptr);
    checkMetadata(*archive, *entry);
    EntryRead read = checkData(*entry);
    checkSameAsZlib(*entry, read, bytes);
    if (entry->IsPasswordProtected()) {
      entry->SetPassword(kPassword);
      read = checkData(*entry);
    }
    if (i < 2) reads[i] = read;
  }
  if (count >= 2) checkInterleaved(*archive->GetEntry(0), reads[0], *archive->GetEntry(1), reads[1]);
}

// A file of this process for the ZipFile::Open path, removed at exit.
const std::string& scratchFile() {
  static const std::string path = [] {
    std::string p = "/tmp/updater_archive_fuzzer_" + std::to_string(::getpid()) + ".zip";
    std::atexit([] { std::remove(scratchFile().c_str()); });
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (size % 4 == 3) {
    {
      std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    exercise(ZipFile::Open(scratchFile()), bytes);
  } else {
    std::istringstream stream(bytes);
    exercise(ZipArchive::Create(&stream, false), bytes);
  }
  return 0;
}
