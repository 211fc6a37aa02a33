// Small helpers shared by the tests: JSON from text, standard output
// captured around in-process code, quoted paths as the log lines print
// them, directory listings and snapshots, text replacement and
// little-endian patching of bytes.
#pragma once

#include <rapidjson/document.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace testing_support {

// Throws std::invalid_argument on a malformed text (a fault of the test).
inline rapidjson::Document parseJson(const std::string& json) {
  rapidjson::Document document;
  document.Parse(json.c_str(), json.size());
  if (document.HasParseError()) throw std::invalid_argument("bad JSON in test: " + json);
  return document;
}

// Redirects std::cout into a string for its lifetime, also when the code
// under test throws.
class CapturedOutput {
 public:
  CapturedOutput() : _saved(std::cout.rdbuf(_buffer.rdbuf())) {}
  ~CapturedOutput() { std::cout.rdbuf(_saved); }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  std::string text() const { return _buffer.str(); }

 private:
  std::ostringstream _buffer;
  std::streambuf* _saved;
};

template <class Code>
std::string outputOf(Code code) {
  CapturedOutput output;
  code();
  return output.text();
}

// What `code` printed, and the message of the exception that ended it ("" when none).
struct OutputAndError {
  std::string out, error;
};
template <class Code>
OutputAndError outputAndError(Code code) {
  OutputAndError result;
  CapturedOutput output;
  try {
    code();
  } catch (const std::exception& error) {
    result.error = error.what();
  }
  result.out = output.text();
  return result;
}

// A path as the log lines quote it (std::quoted).
inline std::string q(const std::filesystem::path& path) {
  std::ostringstream quoted;
  quoted << std::quoted(path.string());
  return quoted.str();
}

// Names in `directory`, in the order the system lists them or sorted.
inline std::vector<std::string> listing(const std::filesystem::path& directory, bool sorted = false) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  if (sorted) std::sort(names.begin(), names.end());
  return names;
}

// Every entry below `root` (links not followed), by relative path: type and
// permission bits, owner and group, and the bytes of a file or the text of a
// link. Empty when `root` does not exist.
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> entries;
  if (!fs::exists(fs::symlink_status(root))) return entries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    struct stat info {};
    ::lstat(it->path().c_str(), &info);
    std::string value =
        std::to_string(info.st_mode) + ":" + std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid) + ":";
    if (S_ISREG(info.st_mode)) value += readFile(it->path());
    if (S_ISLNK(info.st_mode)) value += fs::read_symlink(it->path()).string();
    entries[it->path().lexically_relative(root).string()] = value;
  }
  return entries;
}

// `text` with every `from` replaced by `to`.
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// Writes `value` little-endian in `width` bytes at `at`.
inline void patch(std::string& bytes, size_t at, uint32_t value, int width = 4) {
  for (int i = 0; i < width; ++i) bytes.at(at + i) = static_cast<char>((value >> (8 * i)) & 0xff);
}

}  // namespace testing_support
