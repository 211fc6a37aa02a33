#include "zip_writer/ZipBuilder.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>

#include <fstream>
#include <stdexcept>

namespace zip_writer {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kDataDescriptorSignature = 0x08074b50;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagLzmaEndMarker = 0x0002;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kVersionMadeByUnix = (3 << 8) | 20;

void put16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xff));
  out.push_back(static_cast<char>(value >> 8));
}

void put32(std::string& out, uint32_t value) {
  put16(out, static_cast<uint16_t>(value & 0xffff));
  put16(out, static_cast<uint16_t>(value >> 16));
}

bool isDirectoryName(const std::string& name) { return !name.empty() && name.back() == '/'; }

// The data as it goes into the archive: compressed, then encrypted.
struct EncodedEntry {
  std::string payload;
  uint32_t crc = 0;
  uint16_t flags = 0;
};

EncodedEntry encode(const ZipEntrySpec& entry) {
  EncodedEntry encoded;
  encoded.crc = zip_codecs::crc32(entry.data);
  // Stored, and unknown methods, carry the data as given.
  encoded.payload = entry.method == 8    ? zip_codecs::deflateRaw(entry.data)
                    : entry.method == 12 ? zip_codecs::bzip2(entry.data)
                    : entry.method == 14 ? zip_codecs::lzma(entry.data, entry.lzmaEndMarker)
                                         : entry.data;
  if (entry.method == 14 && entry.lzmaEndMarker) encoded.flags |= kFlagLzmaEndMarker;
  if (entry.dataDescriptor) encoded.flags |= kFlagDataDescriptor;
  if (!entry.password.empty()) {
    encoded.flags |= kFlagEncrypted;
    // The reader checks the header's last byte against this value.
    uint8_t check =
        entry.dataDescriptor ? static_cast<uint8_t>(entry.dosTime >> 8) : static_cast<uint8_t>(encoded.crc >> 24);
    encoded.payload = zip_codecs::encrypt(encoded.payload, entry.password, check);
  }
  return encoded;
}

uint32_t attributesOf(const ZipEntrySpec& entry) {
  if (entry.externalAttributes) return *entry.externalAttributes;
  return isDirectoryName(entry.name) ? ((040755u << 16) | 0x10u) : (0100644u << 16);
}

}  // namespace

namespace zip_codecs {

uint32_t crc32(const std::string& data) {
  return static_cast<uint32_t>(
      ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string deflateRaw(const std::string& data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

std::string bzip2(const std::string& data) {
  unsigned int size = static_cast<unsigned int>(data.size() + data.size() / 100 + 600);
  std::string out(size, '\0');
  int result = BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                                        static_cast<unsigned int>(data.size()), 9, 0, 0);
  if (result != BZ_OK) throw std::runtime_error("bzip2 compression failed");
  out.resize(size);
  return out;
}

std::string lzma(const std::string& data, bool endMarker) {
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, 6)) throw std::runtime_error("lzma preset failed");
  // LZMA1 always ends with the marker; LZMA1EXT without the ALLOW_EOPM flag
  // writes none, leaving the size to the ZIP headers.
  options.ext_flags = 0;
  lzma_filter filters[2] = {{endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
                            {LZMA_VLI_UNKNOWN, nullptr}};

  lzma_filter propertyFilter = {LZMA_FILTER_LZMA1, &options};
  uint8_t properties[5] = {};
  uint32_t propertySize = 0;
  if (lzma_properties_size(&propertySize, &propertyFilter) != LZMA_OK || propertySize != 5 ||
      lzma_properties_encode(&propertyFilter, properties) != LZMA_OK)
    throw std::runtime_error("lzma properties failed");

  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK) throw std::runtime_error("lzma encoder init failed");
  std::string raw(data.size() + data.size() / 2 + 1024, '\0');
  stream.next_in = reinterpret_cast<const uint8_t*>(data.data());
  stream.avail_in = data.size();
  stream.next_out = reinterpret_cast<uint8_t*>(raw.data());
  stream.avail_out = raw.size();
  lzma_ret result = lzma_code(&stream, LZMA_FINISH);
  raw.resize(stream.total_out);
  lzma_end(&stream);
  if (result != LZMA_STREAM_END) throw std::runtime_error("lzma compression failed");

  std::string out;
  out.push_back(static_cast<char>(LZMA_VERSION_MAJOR));
  out.push_back(static_cast<char>(LZMA_VERSION_MINOR));
  put16(out, 5);
  out.append(reinterpret_cast<const char*>(properties), 5);
  return out + raw;
}

std::string encrypt(const std::string& data, const std::string& password, uint8_t checkByte) {
  // Traditional PKWARE cipher: three keys driven by the plaintext.
  uint32_t keys[3] = {0x12345678, 0x23456789, 0x34567890};
  auto crcStep = [](uint32_t crc, uint8_t byte) { return get_crc_table()[(crc ^ byte) & 0xff] ^ (crc >> 8); };
  auto update = [&](uint8_t plain) {
    keys[0] = crcStep(keys[0], plain);
    keys[1] = (keys[1] + (keys[0] & 0xff)) * 134775813u + 1;
    keys[2] = crcStep(keys[2], static_cast<uint8_t>(keys[1] >> 24));
  };
  std::string out;
  auto put = [&](uint8_t plain) {
    uint32_t temp = (keys[2] | 2) & 0xffff;
    out.push_back(static_cast<char>(plain ^ static_cast<uint8_t>((temp * (temp ^ 1)) >> 8)));
    update(plain);
  };
  for (char c : password) update(static_cast<uint8_t>(c));
  // Fixed filler keeps archives reproducible; only the last byte is checked.
  for (int i = 0; i < 11; ++i) put(static_cast<uint8_t>(0x5a + 17 * i));
  put(checkByte);
  for (char c : data) put(static_cast<uint8_t>(c));
  return out;
}

}  // namespace zip_codecs

ZipEntrySpec makeEntry(const std::string& name, const std::string& data, uint16_t method) {
  ZipEntrySpec entry;
  entry.name = name;
  entry.data = data;
  entry.method = method;
  return entry;
}

ZipBuilder& ZipBuilder::add(const std::string& name, const std::string& data, uint16_t method) {
  return add(makeEntry(name, data, method));
}

ZipBuilder& ZipBuilder::add(const ZipEntrySpec& entry) {
  _entries.push_back(entry);
  return *this;
}

ZipBuilder& ZipBuilder::addDirectory(const std::string& name) {
  return add(makeEntry(isDirectoryName(name) ? name : name + "/"));
}

ZipBuilder& ZipBuilder::comment(const std::string& archiveComment) {
  _comment = archiveComment;
  return *this;
}

ZipBuilder::Layout ZipBuilder::build() const {
  Layout layout;
  std::string& out = layout.bytes;
  std::string central;
  for (const ZipEntrySpec& entry : _entries) {
    EncodedEntry encoded = encode(entry);
    const uint32_t compressedSize = static_cast<uint32_t>(encoded.payload.size());
    const uint32_t size = static_cast<uint32_t>(entry.data.size());
    // The fields the local and the central header share, from "version
    // needed" to the extra field length; with a data descriptor the local
    // header leaves CRC and sizes zero.
    auto common = [&](std::string& header, bool deferred) {
      for (uint16_t value : {entry.versionNeeded, encoded.flags, entry.method, entry.dosTime, entry.dosDate})
        put16(header, value);
      for (uint32_t value : {encoded.crc, compressedSize, size}) put32(header, deferred ? 0 : value);
      put16(header, static_cast<uint16_t>(entry.name.size()));
      put16(header, 0);
    };

    layout.localOffsets.push_back(out.size());
    layout.centralOffsets.push_back(central.size());  // relative until the directory's place is known
    put32(central, kCentralHeaderSignature);
    put16(central, kVersionMadeByUnix);
    common(central, false);
    put16(central, 0);  // comment length
    put16(central, 0);  // disk number start
    put16(central, 0);  // internal attributes
    put32(central, attributesOf(entry));
    put32(central, static_cast<uint32_t>(out.size()));
    central += entry.name;

    put32(out, kLocalHeaderSignature);
    common(out, entry.dataDescriptor);
    out += entry.name + encoded.payload;
    if (entry.dataDescriptor) {
      for (uint32_t value : {kDataDescriptorSignature, encoded.crc, compressedSize, size}) put32(out, value);
    }
  }

  layout.centralDirectory = out.size();
  for (size_t& offset : layout.centralOffsets) offset += layout.centralDirectory;
  out += central;
  layout.endRecord = out.size();
  const uint16_t count = static_cast<uint16_t>(_entries.size());
  put32(out, kEndRecordSignature);
  for (uint16_t value : {uint16_t{0}, uint16_t{0}, count, count}) put16(out, value);
  put32(out, static_cast<uint32_t>(central.size()));
  put32(out, static_cast<uint32_t>(layout.centralDirectory));
  put16(out, static_cast<uint16_t>(_comment.size()));
  out += _comment;
  return layout;
}

std::string ZipBuilder::bytes() const { return build().bytes; }

void ZipBuilder::write(const std::filesystem::path& file) const {
  std::string data = bytes();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

size_t ZipBuilder::centralDirectoryOffset() const { return build().centralDirectory; }
size_t ZipBuilder::endRecordOffset() const { return build().endRecord; }
size_t ZipBuilder::localHeaderOffset(size_t index) const { return build().localOffsets.at(index); }
size_t ZipBuilder::centralHeaderOffset(size_t index) const { return build().centralOffsets.at(index); }

void makeManifestPackage(const std::filesystem::path& zipFile, const std::string& manifestJson) {
  ZipBuilder().add("manifest.json", manifestJson).write(zipFile);
}

}  // namespace zip_writer
