#include "platform/ReadRedirects.h"

#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

namespace platform {
namespace {

std::map<std::string, std::shared_ptr<const SealedCopy>>& redirects() {
  static std::map<std::string, std::shared_ptr<const SealedCopy>> table;
  return table;
}

}  // namespace

void redirectReads(const std::string& canonicalPath, std::shared_ptr<const SealedCopy> copy) {
  redirects()[canonicalPath] = std::move(copy);
}

std::string pathToRead(const std::string& path) {
  const auto& table = redirects();
  if (table.empty()) return path;
  // The string itself first: resolving it again could follow a link that was
  // put in the way after the copy was taken.
  auto found = table.find(path);
  if (found == table.end()) {
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    if (!error) found = table.find(canonical.string());
  }
  return found == table.end() ? path : found->second->path();
}

}  // namespace platform
