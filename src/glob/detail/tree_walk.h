// The walk of a directory tree: every entry below a directory, depth-first in
// pre-order, named as the listing of each directory names them (see
// listing.h); the directory itself is not part of the result.
//
// Symbolic links to directories are followed. The walk remembers the resolved
// directories it is inside, so a link back to one of them is listed but not
// entered. Failures are those of the listings: an entry that cannot be
// resolved ends its directory's listing, and status errors of a directory
// that cannot be opened leave the library as std::filesystem::filesystem_error.
#pragma once

#include <filesystem>

#include "glob/detail/directory_reader.h"
#include "glob/detail/listing.h"

namespace glob::detail {

// The tree below `dirname` (the current directory for an empty name).
path_list rlistdir(expansion_context& context, const std::filesystem::path& dirname, bool dironly);

}  // namespace glob::detail
