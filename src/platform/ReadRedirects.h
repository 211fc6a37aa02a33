// Read redirects: files whose later reads must see the bytes of a sealed copy
// taken earlier (after the copy was checked), not whatever the file system
// holds by then.
//
// A redirect is process-wide and lasts until exit. pathToRead is the one call
// that every reader of a possibly redirected file makes before opening it: a
// path equal to a redirected one, as a string or once made canonical, gives
// the copy's path. With no redirect it returns the path unchanged and touches
// nothing. Not thread-safe (the updater has one thread).
#pragma once

#include <memory>
#include <string>

#include "platform/SealedCopy.h"

namespace platform {

// Later opens of `canonicalPath` read `copy`.
void redirectReads(const std::string& canonicalPath, std::shared_ptr<const SealedCopy> copy);

// The path to open for reading the file at `path`.
std::string pathToRead(const std::string& path);

}  // namespace platform
