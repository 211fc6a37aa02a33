// Reading directories, and what one expansion keeps of what it has read.
//
// `read_directory` lists one directory as std::filesystem::directory_iterator
// with skip_permission_denied would: no "." or "..", a directory that cannot
// be opened for lack of permission reads as empty, and any other error ends
// the read with what it has. It reports by its result, never by exceptions.
//
// `expansion_context` lives for one call of the public functions and is
// passed down to every step that reads the file system: a pattern such as
// dir/**/*.h lists every directory twice (once to find the directories below,
// once to match names in each), and the second listing reuses the first
// read. It also resolves the current directory once per call. Nothing is kept
// once the call returns.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace glob::detail {

// What reading a directory gives before any rule is applied: each entry's
// name and what the read already tells of its type.
struct raw_entry {
  std::string name;
  bool link = false;              // a symbolic link, or unknown whether it is one
  std::optional<bool> directory;  // for entries that are not links, when the read knows
};

struct raw_listing {
  std::vector<raw_entry> entries;  // in the order the operating system gives them
  bool opened = true;              // false: the directory could not be opened
  bool complete = true;            // false: an error ended the read early
  int examine_error = 0;           // errno of reading the first entry's status, 0 if none
};

// Reads the directory at `directory`, with `block` (grown when empty) as the
// buffer the system fills.
raw_listing read_directory(const std::string& directory, std::vector<char>& block);
// Reads the directory open as `fd`, just opened (its entries are read from
// its current position); it stays open and owned by the caller.
raw_listing read_directory_at(int fd, std::vector<char>& block);

// The directories read during one expansion, by path text (only complete
// reads are kept), the resolved paths of directories as far as they are
// known, and the resolved current directory.
class expansion_context {
 public:
  // The current directory resolved, read once; empty when it cannot be.
  const std::string& resolved_cwd();

  // Resolved directories by path text.
  void remember(const std::string& directory, const std::string& resolved);
  // Empty when not known.
  const std::string& resolved(const std::string& directory) const;

  // The read of `directory` kept earlier, or null.
  std::shared_ptr<const raw_listing> find(const std::string& directory) const;
  // The read kept earlier, or a fresh one: by `fd` when it is open (>= 0) on
  // that directory, otherwise by the path.
  std::shared_ptr<const raw_listing> read(const std::string& directory, int fd = -1);

 private:
  std::unordered_map<std::string, std::shared_ptr<const raw_listing>> _listings;
  std::unordered_map<std::string, std::string> _resolved;
  std::string _cwd;
  bool _cwd_read = false;
  std::vector<char> _block;  // filled by every directory read
};

}  // namespace glob::detail
