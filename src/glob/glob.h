// Shell-style wildcard expansion against the file system.
//
// `glob` and `rglob` turn patterns such as "src/*.h" or "~/lib/**/*.so" into
// the list of existing paths they name. Wildcards are `*` (any run of
// characters), `?` (one character) and `[set]` / `[!set]` (one character of a
// set, or not of it), recognised inside one path component only. A leading
// "~" stands for the HOME directory; a pattern beginning with "." is anchored
// at the current directory and yields absolute paths. Under `rglob` a
// component that is exactly "**" matches a whole directory tree.
//
// Results come in expansion order: never sorted, never de-duplicated. A
// relative pattern gives relative paths, an absolute one absolute paths.
// Names beginning with "." are skipped where the listed path text begins with
// ".", so "*" skips hidden names of the current directory but "sub/*" does not.
//
// The library owns nothing beyond a few process-wide constant tables. It
// reports failures only by exceptions, none of which it catches:
//   - std::invalid_argument when a pattern begins with "~" and HOME is unset;
//   - std::regex_error when a set in a pattern is not a valid expression;
//   - std::filesystem::filesystem_error when a path's status cannot be read
//     for a reason other than its absence.
// Missing paths simply give no result; a directory that cannot be read is
// treated as empty. It reads the current directory and HOME at each call and
// is not guarded against their concurrent change. Within one call each
// directory is read from the system once, however often the pattern lists it,
// and nothing read is kept once the call returns.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace glob {

// Expands one pattern; "**" is an ordinary wildcard component.
std::vector<std::filesystem::path> glob(const std::string& pathname);
// Expands one pattern; a component "**" matches a whole directory tree.
std::vector<std::filesystem::path> rglob(const std::string& pathname);

// Expands each pattern in order and appends the results one after the other.
std::vector<std::filesystem::path> glob(const std::vector<std::string>& pathnames);
std::vector<std::filesystem::path> rglob(const std::vector<std::string>& pathnames);
std::vector<std::filesystem::path> glob(const std::initializer_list<std::string>& pathnames);
std::vector<std::filesystem::path> rglob(const std::initializer_list<std::string>& pathnames);

}  // namespace glob
