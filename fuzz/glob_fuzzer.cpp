// Fuzz target: one glob pattern component and one file name from arbitrary
// bytes (the pattern, a NUL byte, then the name).
//
// Inputs that cannot occur are dropped: a component holds no "/" and no NUL
// (manifest strings end at their first NUL) and a file name is at most 255
// bytes without "/" or NUL. The pattern is translated and matched through the
// library's internal interface; std::regex_error is the one failure
// specified for matching. Checked properties: the shape of every
// translation, has_magic and is_recursive against their definitions, that
// matching agrees with std::regex over the translated text (the library may
// match in its own way), that a pattern without wildcards matches itself,
// and that a name made of one carriage return or line feed matches whatever
// pattern compiles.
#include <algorithm>
#include <cstdint>
#include <regex>
#include <string>

#include "FuzzCheck.h"
#include "glob/detail/pattern.h"

namespace {

constexpr size_t kMaxName = 255;

// Reference: the specified matching, straight through std::regex.
// libstdc++'s default executor backtracks, exponentially so for patterns
// with many "*"; its breadth-first executor decides the same whole-name
// match in polynomial time, so the reference never stalls a run.
#ifdef __GLIBCXX__
const auto kReferenceSyntax = std::regex::ECMAScript | std::regex_constants::__polynomial;
#else
const auto kReferenceSyntax = std::regex::ECMAScript;
#endif

// Returns 1 for a match, 0 for none, -1 when the expression is rejected.
int referenceMatch(const std::string& name, const std::string& translated) {
  try {
    return std::regex_match(name, std::regex(translated, kReferenceSyntax)) ? 1 : 0;
  } catch (const std::regex_error&) {
    return -1;
  }
}

int libraryMatch(const std::string& name, const std::string& pattern) {
  try {
    return glob::detail::match_name(name, pattern) ? 1 : 0;
  } catch (const std::regex_error&) {
    return -1;
  }
}

bool hasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t separator = input.find('\0');
  std::string pattern = input.substr(0, separator);
  std::string name = separator == std::string::npos ? std::string() : input.substr(separator + 1);
  if (pattern.find('/') != std::string::npos) return 0;
  if (name.size() > kMaxName || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    return 0;
  }

  FUZZ_CHECK(glob::detail::has_magic(pattern) == (pattern.find_first_of("*?[") != std::string::npos));
  FUZZ_CHECK(glob::detail::is_recursive(pattern) == (pattern == "**"));

  const std::string translated = glob::detail::translate(pattern);
  const std::string suffix = ")|[\\r\\n])$";
  FUZZ_CHECK(translated.compare(0, 2, "((") == 0);
  FUZZ_CHECK(translated.size() >= 2 + suffix.size());
  FUZZ_CHECK(translated.compare(translated.size() - suffix.size(), suffix.size(), suffix) == 0);

  int expected = referenceMatch(name, translated);
  const int found = libraryMatch(name, pattern);
  // A component that needs more bytes than a name can hold is never
  // compiled, so a bad set in it goes unnoticed; it then matches no name but
  // a lone line break, as the expression would.
  const size_t literalBytes = pattern.size() - static_cast<size_t>(std::count(pattern.begin(), pattern.end(), '*'));
  const bool uncompiled = found == (name == "\r" || name == "\n" ? 1 : 0);
  FUZZ_CHECK(found == expected || (expected == -1 && literalBytes > kMaxName && uncompiled));

  if (expected != -1) {
    if (name == "\r" || name == "\n") FUZZ_CHECK(expected == 1);
    // Without wildcards every byte stands for itself, in a name no longer
    // than a name can be.
    if (!glob::detail::has_magic(pattern) && !hasLineBreak(pattern) && pattern.size() <= kMaxName) {
      FUZZ_CHECK(libraryMatch(pattern, pattern) == 1);
    }
  }
  if (!name.empty() && !hasLineBreak(name)) FUZZ_CHECK(libraryMatch(name, "*") == 1);
  return 0;
}
