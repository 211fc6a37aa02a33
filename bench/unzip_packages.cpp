// Makes the archives that bench/unzip.sh unpacks with the updater and with
// Info-ZIP unzip:
//   bundle-deflate.zip, bundle-bzip2.zip, bundle-lzma.zip: the same ~3,000
//     files of mixed sizes and kinds (~150 MiB) under each method;
//   big-deflate.zip: one ~200 MiB entry.
// For each archive NAME.zip it also writes run-NAME.zip, an update package
// whose manifest unpacks NAME.zip (by absolute path) into "out" below the
// updater's working directory.
// Usage: bench_unzip_packages DIR
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "zip_writer/ZipBuilder.h"

namespace fs = std::filesystem;
using zip_writer::ZipBuilder;
using zip_writer::ZipEntrySpec;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// Deterministic content of three kinds, so that the compressors see a
// realistic mix: prose-like text, structured binary with runs, and noise.
class Content {
 public:
  explicit Content(unsigned seed) : _random(seed) {}

  std::string text(std::size_t size) {
    static const char* const kWords[] = {"update", "package", "manifest", "install", "the",    "of",
                                         "and",    "file",    "version",  "bundle",  "config", "value",
                                         "return", "static",  "const",    "string",  "path",   "0x1f"};
    std::string out;
    out.reserve(size + 16);
    while (out.size() < size) {
      out += kWords[_random() % (sizeof kWords / sizeof *kWords)];
      out += (_random() % 11 == 0) ? '\n' : ' ';
    }
    out.resize(size);
    return out;
  }

  std::string binary(std::size_t size) {
    std::string out;
    out.reserve(size + 64);
    while (out.size() < size) {
      if (_random() % 2 == 0) {
        out.append(1 + _random() % 48, static_cast<char>(_random()));
      } else {
        for (unsigned n = 1 + _random() % 24; n > 0; --n) out.push_back(static_cast<char>(_random()));
      }
    }
    out.resize(size);
    return out;
  }

  std::string noise(std::size_t size) {
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(_random());
    return out;
  }

  std::mt19937& random() { return _random; }

 private:
  std::mt19937 _random;
};

struct File {
  std::string name;
  std::string data;
};

// About 3,000 files, sizes spread log-uniformly from 64 bytes to 4 MiB and
// scaled to about 150 MiB in total, in a few levels of directories.
std::vector<File> makeBundle() {
  Content content(2024);
  std::vector<std::size_t> sizes;
  std::uniform_real_distribution<double> exponent(6.0, 22.0);  // 2^6 .. 2^22 bytes
  double total = 0;
  for (int i = 0; i < 3000; ++i) {
    sizes.push_back(static_cast<std::size_t>(std::exp2(exponent(content.random()))));
    total += static_cast<double>(sizes.back());
  }
  const double scale = 150.0 * kMiB / total;
  std::vector<File> files;
  for (int i = 0; i < 3000; ++i) {
    std::size_t size = static_cast<std::size_t>(static_cast<double>(sizes[i]) * scale);
    unsigned kind = content.random()() % 20;
    File file;
    file.name = "app/module" + std::to_string(i % 40) + "/part" + std::to_string(i % 7) + "/file" + std::to_string(i) +
                (kind < 12   ? ".txt"
                 : kind < 17 ? ".bin"
                             : ".dat");
    file.data = kind < 12 ? content.text(size) : kind < 17 ? content.binary(size) : content.noise(size);
    files.push_back(std::move(file));
  }
  return files;
}

void writeArchive(const fs::path& dir, const std::string& name, const std::vector<File>& files, uint16_t method) {
  ZipBuilder builder;
  std::string lastDirectory;
  for (const File& file : files) {
    ZipEntrySpec spec;
    spec.name = file.name;
    spec.data = file.data;
    spec.method = method;
    spec.externalAttributes = (file.name.size() % 5 == 0 ? 0100755u : 0100644u) << 16;
    builder.add(spec);
  }
  const fs::path archive = dir / (name + ".zip");
  builder.write(archive);
  zip_writer::makeManifestPackage(dir / ("run-" + name + ".zip"),
                                  R"({"actions":[[{"type":"unzip","description":"bench","source":")" +
                                      fs::absolute(archive).string() +
                                      R"(","destination":"out","include":[],"exclude":[]}]]})");
  std::cout << name << ".zip " << fs::file_size(archive) << " bytes, " << files.size() << " entries" << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: bench_unzip_packages DIR\n";
    return 1;
  }
  const fs::path dir = argv[1];
  fs::create_directories(dir);
  {
    std::vector<File> bundle = makeBundle();
    writeArchive(dir, "bundle-deflate", bundle, 8);
    writeArchive(dir, "bundle-bzip2", bundle, 12);
    writeArchive(dir, "bundle-lzma", bundle, 14);
  }
  Content content(7);
  File big{"big.bin", ""};
  big.data.reserve(200 * kMiB);
  for (int chunk = 0; chunk < 200; ++chunk) {
    big.data += chunk % 3 == 2 ? content.binary(kMiB) : content.text(kMiB);
  }
  writeArchive(dir, "big-deflate", {big}, 8);
  return 0;
}
