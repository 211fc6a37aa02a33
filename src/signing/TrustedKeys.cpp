#include "signing/TrustedKeys.h"

#include <sys/stat.h>

#include <cerrno>

#include "signing/SmallFile.h"

namespace signing {
namespace {

// A key file holds a few keys of about 100 bytes each.
constexpr std::size_t kKeyFileLimit = 64 * 1024;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::vector<PublicKey> loadTrustedKeys(const std::filesystem::path& keyFile, std::string_view builtIn) {
  std::vector<PublicKey> keys;
  while (!builtIn.empty()) {
    std::size_t start = 0;
    while (start < builtIn.size() && isSpace(builtIn[start])) ++start;
    std::size_t end = start;
    while (end < builtIn.size() && !isSpace(builtIn[end])) ++end;
    if (end > start) {
      try {
        keys.push_back(parsePublicKey(builtIn.substr(start, end - start)));
      } catch (const SignatureError& error) {
        throw SignatureError(std::string("built-in trusted key is malformed: ") + error.what());
      }
    }
    builtIn.remove_prefix(end);
  }

  // Only a file that is not there at all stands for "no key file".
  struct stat info;
  if (::lstat(keyFile.c_str(), &info) != 0 && errno == ENOENT) return keys;
  const std::string name = "trusted key file " + keyFile.string();
  const std::string text = readSmallFile(keyFile.string(), kKeyFileLimit, name);
  try {
    std::vector<PublicKey> fileKeys = parsePublicKeys(text);
    keys.insert(keys.end(), fileKeys.begin(), fileKeys.end());
  } catch (const SignatureError& error) {
    throw SignatureError(name + " is malformed: " + error.what());
  }
  return keys;
}

}  // namespace signing
