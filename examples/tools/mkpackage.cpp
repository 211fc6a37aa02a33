// mkpackage: builds an update package (a ZIP archive) from a folder.
//
//   mkpackage <output.zip> <folder>
//
// Every directory below <folder> becomes a directory entry and every regular
// file a deflate entry, named by its path relative to <folder> with "/"
// separators, in sorted order so that the archive is reproducible. The Unix
// mode of each file and directory is kept in the upper half of the external
// attributes, which the unzip action applies. Anything else (sockets,
// devices, links to nowhere) is refused. Exit status 0 on success, 1 with a
// message on standard error otherwise.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "zip_writer/ZipBuilder.h"

namespace fs = std::filesystem;

namespace {

std::string contentOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t unixMode(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path.string());
  return static_cast<uint32_t>(info.st_mode);
}

std::vector<fs::path> sortedTree(const fs::path& root) {
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  return paths;
}

void build(const fs::path& output, const fs::path& root) {
  if (!fs::is_directory(root)) throw std::runtime_error(root.string() + " is not a directory");
  zip_writer::ZipBuilder archive;
  for (const fs::path& path : sortedTree(root)) {
    std::string name = path.lexically_relative(root).generic_string();
    zip_writer::ZipEntrySpec entry;
    uint32_t mode = unixMode(path);
    if (fs::is_directory(path)) {
      entry.name = name + "/";
      entry.externalAttributes = (mode << 16) | 0x10u;
    } else if (fs::is_regular_file(path)) {
      entry.name = name;
      entry.data = contentOf(path);
      entry.method = 8;
      entry.externalAttributes = mode << 16;
    } else {
      throw std::runtime_error("not a file or directory: " + path.string());
    }
    archive.add(entry);
  }
  archive.write(output);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: mkpackage <output.zip> <folder>" << std::endl;
    return 1;
  }
  try {
    build(argv[1], argv[2]);
  } catch (const std::exception& error) {
    std::cerr << "mkpackage: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
