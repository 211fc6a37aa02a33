#include "actions/FileSelection.h"

#include <sys/stat.h>

#include <iostream>
#include <unordered_map>
#include <unordered_set>

#include "actions/QuotedPath.h"
#include "glob/glob.h"
#include "platform/ChangeGuard.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDirectMatch = -1;

// Canonical form of each path met during one selection, computed on first
// use. A failure is not remembered, so it is raised again where met.
class CanonicalCache {
 public:
  const fs::path& of(const fs::path& path) {
    auto found = _paths.find(path.native());
    if (found != _paths.end()) return found->second;
    // Node-based map: the reference stays valid while more paths are added.
    return _paths.emplace(path.native(), resolve(path)).first->second;
  }

 private:
  // An entry that is no link lies where its directory does: the directory
  // is resolved once for all its entries (one lstat each, instead of a
  // readlink per level).
  fs::path resolve(const fs::path& path) {
    const fs::path name = path.filename();
    struct stat info;
    if (name.empty() || name == "." || name == ".." || ::lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) {
      return fs::canonical(path);
    }
    return of(path.has_parent_path() ? path.parent_path() : fs::path(".")) / name;
  }

  std::unordered_map<std::string, fs::path> _paths;
};

struct Candidate {
  fs::path reached;
  fs::path suffix;
  bool throughLink = false;
  int origin = kDirectMatch;  // the expansion that appended it
};

// A directory opened up because it holds an excluded path.
struct Expansion {
  fs::path directory;  // canonical
  fs::path suffix;     // for its entries
  bool throughLink = false;
  int parent = kDirectMatch;
};

// Canonical paths have no "." or ".." elements and no repeated or trailing
// separators, so comparing their elements is comparing their text up to a
// separator.
bool isProperAncestor(const std::string& ancestor, const std::string& descendant) {
  if (ancestor.size() >= descendant.size()) return false;
  if (descendant.compare(0, ancestor.size(), ancestor) != 0) return false;
  return ancestor.back() == '/' || descendant[ancestor.size()] == '/';
}

// True when `directory` was already opened up on the way to `origin`: a
// symbolic link leads back to a directory being expanded, whose entries are
// selected through it already. Expanding it again would never end.
bool opensCycle(const std::vector<Expansion>& expansions, int origin, const fs::path& directory) {
  for (int at = origin; at != kDirectMatch; at = expansions[at].parent) {
    if (expansions[at].directory.native() == directory.native()) return true;
  }
  return false;
}

// The pattern naming every entry of `directory`. Its own `*`, `?` and `[`
// become one-member sets, so that a directory such as app[1] stands for
// itself rather than for app1.
std::string entriesPattern(const fs::path& directory) {
  std::string pattern;
  for (char c : directory.native()) {
    if (c == '*' || c == '?' || c == '[') {
      pattern += '[';
      pattern += c;
      pattern += ']';
    } else {
      pattern += c;
    }
  }
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  return pattern + "*";
}

// The set [[] also admits a backslash (a leading `[` in a set is taken with
// one), so the pattern may reach a sibling such as app\1]; only entries of
// the directory itself are kept.
bool isEntryOf(const fs::path& entry, const fs::path& directory) {
  return entry.parent_path().native() == directory.native();
}

// Expansion passes: replaces each candidate that holds an exclusion by its
// entries, until none does. A candidate that holds none never will in a later
// pass, so each pass looks only at the candidates the previous one appended:
// every candidate is tested once against the exclusions.
void openUpHolders(std::vector<Candidate>& candidates, const std::vector<fs::path>& exclusions,
                   CanonicalCache& canonical) {
  std::vector<Expansion> expansions;
  size_t fresh = 0;
  while (fresh < candidates.size() && !exclusions.empty()) {
    std::vector<size_t> holders;
    for (size_t i = fresh; i < candidates.size(); ++i) {
      const std::string& candidatePath = canonical.of(candidates[i].reached).native();
      for (const fs::path& exclusion : exclusions) {
        if (isProperAncestor(candidatePath, canonical.of(exclusion).native())) {
          holders.push_back(i);
          break;
        }
      }
    }
    if (holders.empty()) break;

    std::vector<bool> replaced(candidates.size(), false);
    std::vector<int> opened;
    for (size_t i : holders) {
      const Candidate& holder = candidates[i];
      const fs::path& directory = canonical.of(holder.reached);
      if (opensCycle(expansions, holder.origin, directory)) {
        replaced[i] = true;
        continue;
      }
      // Only a directory can hold a path; anything else (replaced meanwhile)
      // stays as it is.
      if (!fs::is_directory(directory)) continue;
      replaced[i] = true;
      bool viaLink = holder.throughLink || fs::is_symlink(fs::symlink_status(holder.reached));
      expansions.push_back({directory, holder.suffix / directory.filename(), viaLink, holder.origin});
      opened.push_back(static_cast<int>(expansions.size() - 1));
    }

    size_t kept = fresh;
    for (size_t i = fresh; i < candidates.size(); ++i) {
      if (replaced[i]) continue;
      if (kept != i) candidates[kept] = std::move(candidates[i]);
      ++kept;
    }
    candidates.resize(kept);
    fresh = kept;

    for (int index : opened) {
      for (fs::path& entry : glob::rglob(entriesPattern(expansions[index].directory))) {
        const Expansion& expansion = expansions[index];
        if (!isEntryOf(entry, expansion.directory)) continue;
        candidates.push_back({std::move(entry), expansion.suffix, expansion.throughLink, index});
      }
    }
  }
}

// Lines written once per file end with '\n' rather than std::endl: a long
// listing then goes out in blocks instead of one write per line (a remove of
// 5,000 files made 15,000 writes). The driver flushes when each action ends.
void writePairLine(const fs::path& file, const fs::path& suffix) {
  std::cout << "file=" << quotedPath(file) << ", suffix=" << quotedPath(suffix) << '\n';
}

void writeHeading(const char* heading) {
  std::cout << std::endl;
  std::cout << heading << std::endl;
}

}  // namespace

FileSelection::FileSelection(const std::vector<std::string>* include, const std::vector<std::string>* exclude,
                             bool recursive)
    : _include(include), _exclude(exclude), _recursive(recursive) {}

std::vector<fs::path> FileSelection::expand(const std::vector<std::string>& patterns) const {
  return _recursive ? glob::rglob(patterns) : glob::glob(patterns);
}

std::vector<SelectedFile> FileSelection::getResultFiles() const {
  CanonicalCache canonical;

  std::vector<Candidate> candidates;
  if (_include != nullptr) {
    for (fs::path& path : expand(*_include)) candidates.push_back({std::move(path), {}, false, kDirectMatch});
  }
  std::vector<fs::path> exclusions;
  if (_exclude != nullptr) exclusions = expand(*_exclude);

  openUpHolders(candidates, exclusions, canonical);

  std::vector<fs::path> excluded;
  std::unordered_set<std::string> excludedTexts;
  for (const fs::path& exclusion : exclusions) {
    excluded.push_back(canonical.of(exclusion));
    excludedTexts.insert(excluded.back().native());
  }
  std::vector<SelectedFile> all;
  all.reserve(candidates.size());
  for (Candidate& candidate : candidates) {
    const fs::path& file = canonical.of(candidate.reached);
    if (platform::hiddenFromSelections(file)) continue;
    all.push_back({file, std::move(candidate.suffix), std::move(candidate.reached), candidate.throughLink});
  }
  std::vector<SelectedFile> result;
  for (const SelectedFile& entry : all) {
    if (excludedTexts.count(entry.file.native()) == 0) result.push_back(entry);
  }

  writeHeading("Include list: ");
  for (const SelectedFile& entry : all) writePairLine(entry.file, entry.suffix);
  writeHeading("Exclude list: ");
  for (const fs::path& path : excluded) std::cout << quotedPath(path) << '\n';
  writeHeading("Result list: ");
  for (const SelectedFile& entry : result) writePairLine(entry.file, entry.suffix);
  return result;
}
