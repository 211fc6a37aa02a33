// StoreEntries: the two bulk file-system jobs of a transaction's store,
// copying an entry into it or out of it across file systems, and deleting
// it at the end.
#pragma once

#include <filesystem>
#include <string>

namespace transaction {

// Copies the entry `from` (not followed) with everything below it to `to`,
// which must not exist: types, bytes, link texts, permission bits, and
// owner and group. An updater that is not root may not give entries away:
// then the group is set where it is one of the user's, and whatever it may
// not set stays the user's. For root a refused owner is an error.
void copyEntry(const std::filesystem::path& from, const std::filesystem::path& to);

// Deletes `name` in the open directory `directory` with everything below
// it, descriptor-relative, never following a link; nothing when it is gone.
void removeEntry(int directory, const std::string& name);

}  // namespace transaction
