#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
  std::string templ = (fs::temp_directory_path() / "updater-test-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  // Canonical, so that tests can compare with the canonical paths the
  // updater prints even when the temporary folder is reached through a link.
  _path = fs::canonical(templ);
}

TempDir::~TempDir() {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(_path, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(_path, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(_path, ec);
}

fs::path TempDir::write(const std::string& relative, const std::string& content) const {
  fs::path file = _path / relative;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

fs::path TempDir::mkdir(const std::string& relative) const {
  fs::path dir = _path / relative;
  fs::create_directories(dir);
  return dir;
}

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_support
