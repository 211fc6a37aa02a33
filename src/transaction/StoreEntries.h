// StoreEntries: where a transaction's store keeps each backup, and the bulk
// file-system jobs on it: copying an entry into it or out of it across file
// systems, and deleting it at the end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include "platform/FileDescriptor.h"

namespace transaction {

// The backup numbered `backup` lies at "<shard>/<backup>" below the store,
// in shards of 64: on ext4 a rename that adds a name to a directory of
// thousands costs about twice what it costs in a one-block directory.
std::string storedName(std::uint64_t backup);

// The open shard directories of a store, for backups numbered in rising
// order: the current one is kept open, the next made when first needed.
class StoreShards {
 public:
  explicit StoreShards(int store) : _store(store) {}
  // The shard directory of `backup`, created when missing.
  int directoryFor(std::uint64_t backup);

 private:
  int _store;
  std::uint64_t _number = std::numeric_limits<std::uint64_t>::max();
  platform::FileDescriptor _directory;
};

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
