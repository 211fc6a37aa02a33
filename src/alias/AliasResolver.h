// AliasResolver: the process-wide registry that maps path aliases such as
// "@update.zip" to real paths.
//
// There is one instance per process (getInstance), created on first use and
// destroyed at exit. Used from the main thread only; the map is not locked.
// Failure: resolve() throws std::runtime_error("Alias does not found") for a
// text that starts with "@" and is not bound; it prints nothing.
#pragma once

#include <map>
#include <string>

class AliasResolver {
 public:
  static AliasResolver& getInstance();

  // The one instance is never copied: a copy would miss later bindings.
  AliasResolver(const AliasResolver&) = delete;
  AliasResolver& operator=(const AliasResolver&) = delete;

  // Binds `alias` to `path`, replacing an earlier binding. Nothing is checked.
  void addAlias(const std::string& alias, const std::string& path);

  // Empty text gives empty text; text not starting with "@" is returned as
  // it is; otherwise the whole text is looked up as an alias.
  std::string resolve(const std::string& text) const;

 private:
  AliasResolver() = default;
  std::map<std::string, std::string> _aliases;
};
