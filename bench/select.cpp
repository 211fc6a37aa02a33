// Sets up the file-selection benchmark run by bench/select.sh: generated
// trees and update packages whose manifests remove or copy parts of them.
//
//   bench_select remove-setup ROOT   ROOT/tree (5,000 files, 1,110 directories,
//                                    depth 4) and ROOT/remove.zip, which
//                                    removes ROOT/work/tree but 20 files deep in it
//   bench_select copy-setup ROOT     ROOT/big (60,000 files, 100 of them
//                                    *.special) and ROOT/copy.zip, which copies
//                                    ROOT/big/**/*.special into ROOT/out
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "zip_writer/ZipBuilder.h"

namespace fs = std::filesystem;

namespace {

void touch(const fs::path& file) { std::ofstream(file) << file.filename().string() << '\n'; }

std::string quote(const std::string& text) { return "\"" + text + "\""; }

bool writePackage(const fs::path& zip, const std::string& manifest) {
  zip_writer::makeManifestPackage(zip, manifest);
  return true;
}

// 10 x 10 x 10 directories with 5 files each; the 20 exclusions are files at
// the bottom, spread over the first-level directories.
bool removeSetup(const fs::path& root) {
  const fs::path tree = root / "tree";
  for (int a = 0; a < 10; ++a)
    for (int b = 0; b < 10; ++b)
      for (int c = 0; c < 10; ++c) {
        fs::path dir = tree / ("d" + std::to_string(a)) / ("s" + std::to_string(b)) / ("t" + std::to_string(c));
        fs::create_directories(dir);
        for (int f = 0; f < 5; ++f) touch(dir / ("file" + std::to_string(f) + ".dat"));
      }
  const fs::path work = root / "work/tree";
  std::string excludes;
  for (int i = 0; i < 20; ++i) {
    fs::path keep = work / ("d" + std::to_string(i % 10)) / ("s" + std::to_string((i / 10) * 4 + 1)) /
                    ("t" + std::to_string((i * 7) % 10)) / ("file" + std::to_string(i % 5) + ".dat");
    excludes += (i == 0 ? "" : ", ") + quote(keep.string());
  }
  return writePackage(root / "remove.zip", "{\"actions\": [[{\"type\": \"remove\", \"include\": " +
                                               quote(work.string()) + ", \"exclude\": [" + excludes + "]}]]}");
}

// 20 x 20 x 15 directories with 10 files each; every 600th file is a
// *.special one.
bool copySetup(const fs::path& root) {
  const fs::path tree = root / "big";
  int count = 0;
  for (int a = 0; a < 20; ++a)
    for (int b = 0; b < 20; ++b)
      for (int c = 0; c < 15; ++c) {
        fs::path dir = tree / ("a" + std::to_string(a)) / ("b" + std::to_string(b)) / ("c" + std::to_string(c));
        fs::create_directories(dir);
        for (int f = 0; f < 10; ++f, ++count) {
          bool special = count % 600 == 0;
          touch(dir / ("n" + std::to_string(count) + (special ? ".special" : ".txt")));
        }
      }
  return writePackage(root / "copy.zip",
                      "{\"actions\": [[{\"type\": \"copy\", \"include\": " + quote((tree / "**/*.special").string()) +
                          ", \"exclude\": [], \"recursive\": true, \"destination\": " + quote((root / "out").string()) +
                          "}]]}");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: bench_select remove-setup|copy-setup ROOT\n";
    return 1;
  }
  const std::string command = argv[1];
  const fs::path root = fs::absolute(argv[2]);
  if (command == "remove-setup") return removeSetup(root) ? 0 : 1;
  if (command == "copy-setup") return copySetup(root) ? 0 : 1;
  std::cerr << "unknown command " << command << "\n";
  return 1;
}
