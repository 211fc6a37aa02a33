// Throughput of an entry's data stream (ZipFile::Open -> GetEntry ->
// GetDecompressionStream, read to the end) against the same library decoding
// the same compressed bytes directly in memory, for deflate, bzip2 and LZMA.
//
// Usage: bench_zip_streams [deflate_MiB [bzip2_MiB [lzma_MiB]]]
// Prints one line per method: sizes, both throughputs (MiB/s of uncompressed
// output, best of three alternating runs each) and the chain's share of the direct speed.
#include <bzlib.h>
#include <lzma.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "zip/ZipFile.h"
#include "zip_writer/ZipBuilder.h"

namespace {

constexpr size_t MiB = 1 << 20;
constexpr size_t Chunk = 1 << 15;

// Text-like data with some binary noise: compresses roughly 3:1 with
// deflate, like source files and small binaries mixed.
std::string MakeData(size_t size) {
  static const char* const words[] = {"update", "archive",  "manifest", "entry", "stream", "buffer", "decode",
                                      "the",    "of",       "and",      "to",    "file",   "path",   "zip",
                                      "return", "function", "const",    "int",   "{",      "}",      "if"};
  std::mt19937 random(42);
  std::string data;
  data.reserve(size + 16);
  while (data.size() < size) {
    const uint32_t pick = random() % 25;
    if (pick < 21) {
      data += words[pick];
      data += (random() % 9 == 0) ? '\n' : ' ';
    } else {
      data += static_cast<char>(random() & 0xFF);
    }
  }
  data.resize(size);
  return data;
}

// Seconds taken by one run of `run`, which returns the CRC-32 of what it
// decoded (checked against `expectedCrc`).
double Time(const std::function<uint32_t()>& run, uint32_t expectedCrc, const char* what) {
  const auto start = std::chrono::steady_clock::now();
  const uint32_t crc = run();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (crc != expectedCrc) throw std::runtime_error(std::string(what) + ": decoded data differs");
  return took.count();
}

uint32_t Crc(uint32_t crc, const char* data, size_t size) {
  return static_cast<uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

uint32_t ReadChain(const std::string& zipPath) {
  auto archive = ZipFile::Open(zipPath);
  std::istream* stream = archive->GetEntry("entry")->GetDecompressionStream();
  if (stream == nullptr) throw std::runtime_error("no stream");
  std::unique_ptr<char[]> buffer(new char[Chunk]);
  uint32_t crc = 0;
  for (;;) {
    stream->read(buffer.get(), Chunk);
    if (stream->gcount() == 0) break;
    crc = Crc(crc, buffer.get(), static_cast<size_t>(stream->gcount()));
  }
  return crc;
}

uint32_t DirectInflate(const std::string& compressed) {
  std::unique_ptr<char[]> out(new char[Chunk]);
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  uint32_t crc = 0;
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(out.get());
    z.avail_out = Chunk;
    result = inflate(&z, Z_NO_FLUSH);
    crc = Crc(crc, out.get(), Chunk - z.avail_out);
  }
  inflateEnd(&z);
  return crc;
}

uint32_t DirectBzip2(const std::string& compressed) {
  std::unique_ptr<char[]> out(new char[Chunk]);
  bz_stream bz{};
  if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) throw std::runtime_error("BZ2_bzDecompressInit");
  bz.next_in = const_cast<char*>(compressed.data());
  bz.avail_in = static_cast<unsigned>(compressed.size());
  uint32_t crc = 0;
  int result = BZ_OK;
  while (result == BZ_OK) {
    bz.next_out = out.get();
    bz.avail_out = Chunk;
    result = BZ2_bzDecompress(&bz);
    crc = Crc(crc, out.get(), Chunk - bz.avail_out);
  }
  BZ2_bzDecompressEnd(&bz);
  return crc;
}

// `framed` is the ZIP form: 4 header bytes, 5 property bytes, LZMA1 data.
uint32_t DirectLzma(const std::string& framed) {
  std::unique_ptr<char[]> out(new char[Chunk]);
  lzma_filter filter{LZMA_FILTER_LZMA1, nullptr};
  if (lzma_properties_decode(&filter, nullptr, reinterpret_cast<const uint8_t*>(framed.data()) + 4, 5) != LZMA_OK)
    throw std::runtime_error("lzma_properties_decode");
  lzma_filter filters[2] = {filter, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream z = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&z, filters) != LZMA_OK) throw std::runtime_error("lzma_raw_decoder");
  free(filter.options);
  z.next_in = reinterpret_cast<const uint8_t*>(framed.data()) + 9;
  z.avail_in = framed.size() - 9;
  uint32_t crc = 0;
  lzma_ret result = LZMA_OK;
  while (result == LZMA_OK) {
    z.next_out = reinterpret_cast<uint8_t*>(out.get());
    z.avail_out = Chunk;
    result = lzma_code(&z, LZMA_RUN);
    crc = Crc(crc, out.get(), Chunk - z.avail_out);
  }
  lzma_end(&z);
  return crc;
}

void Measure(const char* name, uint16_t method, size_t megabytes, const std::filesystem::path& dir) {
  const std::string data = MakeData(megabytes * MiB);
  const uint32_t expectedCrc = Crc(0, data.data(), data.size());
  std::string compressed;
  switch (method) {
    case 8:
      compressed = zip_writer::zip_codecs::deflateRaw(data);
      break;
    case 12:
      compressed = zip_writer::zip_codecs::bzip2(data);
      break;
    default:
      compressed = zip_writer::zip_codecs::lzma(data, true);
      break;
  }

  // The archive file holds the same compressed bytes (method 99 stores them
  // as given; the method field is then set to the real one).
  const std::filesystem::path zipPath = dir / (std::string(name) + ".zip");
  {
    zip_writer::ZipBuilder builder;
    zip_writer::ZipEntrySpec spec;
    spec.name = "entry";
    spec.data = compressed;
    spec.method = 99;
    builder.add(spec);
    std::string bytes = builder.bytes();
    const auto patch16 = [&bytes](size_t at, uint32_t value) {
      bytes[at] = static_cast<char>(value & 0xFF);
      bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
    };
    const auto patch32 = [&patch16](size_t at, uint32_t value) {
      patch16(at, value & 0xFFFF);
      patch16(at + 2, value >> 16);
    };
    const size_t central = builder.centralHeaderOffset(0);
    patch16(8, method);
    patch16(central + 10, method);
    patch32(central + 16, expectedCrc);
    patch32(central + 24, static_cast<uint32_t>(data.size()));
    patch16(central + 6, 63);
    FILE* file = std::fopen(zipPath.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
      throw std::runtime_error("cannot write " + zipPath.string());
    std::fclose(file);
  }

  double direct = 0, chain = 0;
  const auto runDirect = [&]() -> uint32_t {
    if (method == 8) return DirectInflate(compressed);
    if (method == 12) return DirectBzip2(compressed);
    return DirectLzma(compressed);
  };
  // Alternating rounds, best of each, so that a burst of load on the
  // machine hits both sides alike.
  direct = chain = 1e30;
  for (int round = 0; round < 3; ++round) {
    direct = std::min(direct, Time(runDirect, expectedCrc, "direct"));
    chain = std::min(chain, Time([&]() { return ReadChain(zipPath.string()); }, expectedCrc, "chain"));
  }
  std::filesystem::remove(zipPath);

  const double size = static_cast<double>(data.size()) / MiB;
  std::printf("%-8s %10.1f %12.1f %14.1f %14.1f %10.3f\n", name, size, static_cast<double>(compressed.size()) / MiB,
              size / direct, size / chain, direct / chain);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const size_t deflateMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 128;
  const size_t bzip2MiB = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 32;
  const size_t lzmaMiB = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 16;

  char pattern[] = "/tmp/zip_streams_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  const std::filesystem::path dir = pattern;
  try {
    std::printf("%-8s %10s %12s %14s %14s %10s\n", "method", "data MiB", "packed MiB", "direct MiB/s", "chain MiB/s",
                "chain/dir");
    Measure("deflate", 8, deflateMiB, dir);
    Measure("bzip2", 12, bzip2MiB, dir);
    Measure("lzma", 14, lzmaMiB, dir);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_zip_streams: %s\n", error.what());
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::filesystem::remove_all(dir);
  return 0;
}
