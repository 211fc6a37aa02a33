// Benchmark helper for the glob library, driven by bench/glob.sh.
//
//   bench_glob_tree make DIR DIRS FILES   builds a tree of about DIRS
//                                        directories holding FILES files
//   bench_glob_tree chain DIR DEPTH       builds DIR/d/d/... DEPTH levels deep
//   bench_glob_tree rglob PATTERN         expands PATTERN with glob::rglob and
//                                        prints the number of paths and the time
//   bench_glob_tree glob PATTERN          the same with glob::glob
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "glob/glob.h"

namespace fs = std::filesystem;

namespace {

// Three levels of directories; files spread evenly over the deepest level,
// a quarter of them headers. Hidden directories and files are mixed in so
// that the walk also meets names it must not skip below the top.
int make_tree(const fs::path& root, long dirs, long files) {
  const long top = 10;
  const long middle = 10;
  const long leaves_per_middle = dirs / (top * middle) > 0 ? dirs / (top * middle) : 1;
  const long leaves = top * middle * leaves_per_middle;
  const long per_leaf = files / leaves > 0 ? files / leaves : 1;
  long written = 0;
  for (long t = 0; t < top; ++t) {
    for (long m = 0; m < middle; ++m) {
      for (long l = 0; l < leaves_per_middle; ++l) {
        const fs::path leaf = root / ("top" + std::to_string(t)) / ("mid" + std::to_string(m)) /
                              ((l % 7 == 0 ? ".leaf" : "leaf") + std::to_string(l));
        fs::create_directories(leaf);
        for (long f = 0; f < per_leaf; ++f) {
          static const char* const extensions[] = {".h", ".cpp", ".txt", ".o"};
          std::ofstream(leaf / ("file" + std::to_string(f) + extensions[f % 4]));
          ++written;
        }
      }
    }
  }
  std::cout << "tree: " << top * (1 + middle) + leaves << " directories, " << written << " files" << std::endl;
  return 0;
}

// One directory inside the other, made level by level through descriptors, so
// that no path longer than the system allows is ever passed.
int make_chain(const fs::path& root, long depth) {
  fs::create_directories(root);
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  for (long level = 0; level < depth && fd >= 0; ++level) {
    const int next = ::mkdirat(fd, "d", 0755) == 0 ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY) : -1;
    ::close(fd);
    fd = next;
  }
  if (fd < 0) {
    std::cerr << "chain: cannot build " << root << std::endl;
    return 1;
  }
  ::close(fd);
  return 0;
}

int expand(bool recursive, const std::string& pattern) {
  const auto start = std::chrono::steady_clock::now();
  const auto found = recursive ? glob::rglob(pattern) : glob::glob(pattern);
  const auto end = std::chrono::steady_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::microseconds>(end - start).count() / 1000.0;
  std::cout << found.size() << " paths in " << ms << " ms" << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "make" && argc == 5) {
    return make_tree(argv[2], std::atol(argv[3]), std::atol(argv[4]));
  }
  if (mode == "chain" && argc == 4) {
    return make_chain(argv[2], std::atol(argv[3]));
  }
  if ((mode == "rglob" || mode == "glob") && argc == 3) {
    return expand(mode == "rglob", argv[2]);
  }
  std::cerr << "usage: bench_glob_tree make DIR DIRS FILES | chain DIR DEPTH | rglob PATTERN | glob PATTERN"
            << std::endl;
  return 2;
}
