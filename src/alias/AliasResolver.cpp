#include "alias/AliasResolver.h"

#include <stdexcept>

AliasResolver& AliasResolver::getInstance() {
  static AliasResolver instance;
  return instance;
}

void AliasResolver::addAlias(const std::string& alias, const std::string& path) { _aliases[alias] = path; }

std::string AliasResolver::resolve(const std::string& text) const {
  if (text.empty() || text.front() != '@') return text;
  auto found = _aliases.find(text);
  if (found == _aliases.end()) throw std::runtime_error("Alias does not found");
  return found->second;
}
