#include "zip/ZipFile.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "platform/ReadRedirects.h"

namespace {

bool NothingExistsAt(const std::string& path) {
  std::error_code error;
  // symlink_status: a dangling link is something, and is not followed.
  const auto status = std::filesystem::symlink_status(path, error);
  return status.type() == std::filesystem::file_type::not_found;
}

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

}  // namespace

ZipArchive::Ptr ZipFile::Open(const std::string& zipPath) {
  // A package checked earlier is read from the copy that was checked.
  const std::string readPath = platform::pathToRead(zipPath);
  auto zipFile = std::make_unique<std::ifstream>();
  zipFile->open(readPath, std::ios::binary);

  if (!zipFile->is_open() && NothingExistsAt(zipPath)) {
    // Append mode creates the file but never truncates one that appeared
    // in the meantime.
    std::ofstream(zipPath, std::ios::binary | std::ios::app).close();
    zipFile->clear();
    zipFile->open(zipPath, std::ios::binary);
  }

  // A directory opens as a stream on some systems but has no bytes to read.
  if (!zipFile->is_open() || IsDirectory(readPath)) {
    throw std::runtime_error("cannot open zip file");
  }

  return ZipArchive::Create(zipFile.release(), true);
}
