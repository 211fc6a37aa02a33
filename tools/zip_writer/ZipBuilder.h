// ZipBuilder: writes ZIP archives in memory, for the tests (exactly the
// package a case needs, with offsets to patch malformed ones), the
// benchmarks, the fuzz seeds and the example package maker.
//
// It owns only the entry descriptions it was given; bytes() compresses,
// encrypts and lays the archive out afresh on every call, so the offsets
// reported always match bytes(). Compression methods: 0 stored, 8 raw
// deflate (zlib), 12 bzip2 (libbz2), 14 LZMA1 in ZIP framing (liblzma), any
// other number: the data is stored as given. Traditional PKWARE encryption
// when a password is set. Failure: std::runtime_error when a compression
// library fails or a file cannot be written. Never part of the updater.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zip_writer {

struct ZipEntrySpec {
  std::string name;                            // stored name, bytes as given
  std::string data;                            // uncompressed content
  uint16_t method = 0;                         // 0 stored, 8 deflate, 12 bzip2, 14 LZMA; other: data stored raw
  bool lzmaEndMarker = true;                   // method 14: write the end-of-stream marker (flag bit 1) or not
  std::string password;                        // non-empty: traditional PKWARE encryption
  bool dataDescriptor = false;                 // flag bit 3 (+ a data descriptor after the data)
  std::optional<uint32_t> externalAttributes;  // default: 0100644<<16 for files, (040755<<16)|0x10 for names ending "/"
  uint16_t versionNeeded = 20;                 // version needed to extract
  uint16_t dosTime = 0, dosDate = 0x21;        // DOS time/date
};

// An entry description with every other field at its default.
ZipEntrySpec makeEntry(const std::string& name, const std::string& data = "", uint16_t method = 0);

class ZipBuilder {
 public:
  ZipBuilder& add(const std::string& name, const std::string& data, uint16_t method = 0);
  ZipBuilder& add(const ZipEntrySpec& entry);
  // Adds a directory entry; a "/" is appended to `name` when it lacks one.
  ZipBuilder& addDirectory(const std::string& name);
  ZipBuilder& comment(const std::string& archiveComment);

  // The whole archive: local headers with data, central directory, end record.
  std::string bytes() const;
  // Writes bytes() to `file`, replacing it.
  void write(const std::filesystem::path& file) const;

  // Offsets into bytes(), for tests that patch records.
  size_t centralDirectoryOffset() const;
  size_t endRecordOffset() const;
  size_t localHeaderOffset(size_t index) const;
  size_t centralHeaderOffset(size_t index) const;

 private:
  struct Layout {
    std::string bytes;
    std::vector<size_t> localOffsets;
    std::vector<size_t> centralOffsets;
    size_t centralDirectory = 0;
    size_t endRecord = 0;
  };
  Layout build() const;

  std::vector<ZipEntrySpec> _entries;
  std::string _comment;
};

// Writes a package holding only a stored "manifest.json" with `manifestJson`.
void makeManifestPackage(const std::filesystem::path& zipFile, const std::string& manifestJson);

// Codecs the builder uses, exposed so tests of the builder can check them.
namespace zip_codecs {
std::string deflateRaw(const std::string& data);
std::string bzip2(const std::string& data);
// ZIP framing: 2 version bytes, 2 bytes properties size (5), 5 properties, raw LZMA1 stream.
std::string lzma(const std::string& data, bool endMarker);
uint32_t crc32(const std::string& data);
// Traditional PKWARE encryption of `data` behind a 12-byte header whose last byte is `checkByte`.
std::string encrypt(const std::string& data, const std::string& password, uint8_t checkByte);
}  // namespace zip_codecs

}  // namespace zip_writer
