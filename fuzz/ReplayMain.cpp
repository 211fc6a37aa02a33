// Replay driver for compilers without libFuzzer: runs the harness once over
// every file named on the command line (directories: every regular file in
// them, in name order), so committed regressions can be re-checked with any
// compiler. Exits non-zero when a file cannot be read; a fault in the code
// under test shows as a crash or sanitizer report, as under libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool runFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = true;
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      std::vector<std::filesystem::path> files;
      for (const auto& item : std::filesystem::directory_iterator(arg)) {
        if (item.is_regular_file()) files.push_back(item.path());
      }
      std::sort(files.begin(), files.end());
      for (const auto& file : files) ok = runFile(file) && ok, ++count;
    } else {
      ok = runFile(arg) && ok;
      ++count;
    }
  }
  std::fprintf(stderr, "replayed %zu inputs\n", count);
  return ok ? 0 : 1;
}
