// Writes the seed archives of the archive fuzzer into the directory named on
// the command line, with the test-side archive builder: one small archive per
// feature the reader knows (each method, encryption with and without a data
// descriptor, directories, odd names, comments, refusals). Run by hand when
// the seeds need renewing; the output is committed under fuzz/corpus/archive.
#include <cstdio>
#include <filesystem>
#include <string>

#include "zip_writer/ZipBuilder.h"

using zip_writer::ZipBuilder;
using zip_writer::ZipEntrySpec;

namespace {

std::string text(size_t size) {
  std::string data;
  for (size_t i = 0; data.size() < size; ++i) data += "line " + std::to_string(i % 97) + " of the seed\n";
  data.resize(size);
  return data;
}

// Bytes that do not compress, so compressed data crosses the 32 KiB buffers.
std::string noise(size_t size, uint32_t seed) {
  std::string data(size, '\0');
  for (auto& byte : data) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 23);
  }
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
    return 1;
  }
  const std::filesystem::path out(argv[1]);
  std::filesystem::create_directories(out);
  const std::string manifest = R"({"actions":[[{"type":"delay","value":1}]]})";

  ZipBuilder().add("manifest.json", manifest).write(out / "stored.zip");
  ZipBuilder().add("manifest.json", text(600), 8).write(out / "deflate.zip");
  ZipBuilder().add("data.txt", text(700), 12).write(out / "bzip2.zip");
  ZipBuilder().add("data.txt", text(500), 14).write(out / "lzma_marker.zip");
  {
    ZipEntrySpec spec = zip_writer::makeEntry("data.txt", text(400), 14);
    spec.lzmaEndMarker = false;
    ZipBuilder().add(spec).write(out / "lzma_no_marker.zip");
  }
  {
    ZipEntrySpec stored = zip_writer::makeEntry("secret.txt", text(100), 0);
    stored.password = "fuzz";
    ZipEntrySpec deflated = zip_writer::makeEntry("secret.bin", text(300), 8);
    deflated.password = "fuzz";
    deflated.dataDescriptor = true;
    deflated.dosTime = 0x7d1c;
    ZipBuilder().add(stored).add(deflated).write(out / "encrypted.zip");
  }
  ZipBuilder()
      .addDirectory("bin")
      .add("bin/tool", "#!/bin/sh\necho tool\n")
      .add("\\win\\path.txt", "backslashes")
      .add("//x//y", "slashes")
      .add("a/../../up.txt", "climbs")
      .comment("archive comment")
      .write(out / "names.zip");
  {
    ZipEntrySpec raw = zip_writer::makeEntry("raw.bin", "raw bytes of an unknown method", 99);
    ZipEntrySpec newer = zip_writer::makeEntry("newer.txt", "needs version 64", 0);
    newer.versionNeeded = 64;
    ZipEntrySpec modeless = zip_writer::makeEntry("modeless.txt", "no mode", 0);
    modeless.externalAttributes = 0x20;
    ZipBuilder().add(raw).add(newer).add(modeless).write(out / "refusals.zip");
  }
  ZipBuilder()
      .add("manifest.json", manifest, 8)
      .add("empty.txt", "", 8)
      .add("same", "first")
      .add("same", "second", 12)
      .write(out / "mixed.zip");
  // Data across the 32 KiB buffer boundaries of every layer.
  ZipBuilder().add("noise.bin", noise(36000, 1), 8).add("text.txt", text(70000), 8).write(out / "large_deflate.zip");
  ZipBuilder().add("noise.bin", noise(34000, 2), 12).write(out / "large_bzip2.zip");
  ZipBuilder().add("noise.bin", noise(34000, 3), 14).add("stored.bin", noise(1000, 4)).write(out / "large_lzma.zip");
  {
    ZipEntrySpec secret = zip_writer::makeEntry("secret.bin", noise(33000, 5), 0);
    secret.password = "fuzz";
    ZipBuilder().add(secret).add("after.txt", text(200), 8).write(out / "large_encrypted.zip");
  }
  return 0;
}
