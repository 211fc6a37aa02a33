// Pattern text alone: whether a text holds wildcards, the recursive component
// "**", the translation of one component into a regular expression, and the
// test of one file name against a component.
//
// Internal to the glob library and its tests; callers use glob/glob.h.
// `match_name` and `name_matcher::matches` throw std::regex_error for a set
// the expression engine rejects, at the first name tested; nothing else here
// fails.
#pragma once

#include <cstddef>
#include <optional>
#include <regex>
#include <string>

namespace glob::detail {

// True when the text holds a `*`, `?` or `[` anywhere.
bool has_magic(const std::string& s);
// True when the text is exactly "**".
bool is_recursive(const std::string& pattern);
// Replaces the first occurrence of `from` in `str`, if any.
void string_replace(std::string& str, const std::string& from, const std::string& to);
// The regular-expression text that one component stands for.
std::string translate(const std::string& pattern);
// Whether the whole name matches the component.
bool match_name(const std::string& name, const std::string& pattern);

// What matching needs to know of a pattern component, read the way
// translate() reads it.
struct component_shape {
  std::string pattern;        // runs of `*` outside sets made one `*`: the same names match
  bool has_set = false;       // some `[` opens a set
  std::size_t min_bytes = 0;  // the shortest name it can match, apart from a lone line break
};

// One pattern component, compiled when a name first needs the expression and
// reused for every later name of the same expansion. Compiling lazily keeps
// the moment of a std::regex_error where it belongs: at the first test.
// Patterns without sets, tested against names without line breaks, are
// matched directly, with the result the expression would give.
//
// The expression compiler recurses once per term, so a long component could
// exhaust the stack. A component that needs more bytes than any name can
// hold matches only what every pattern matches, a lone line break, and is
// never compiled; otherwise its runs of stars are collapsed, which leaves at
// most a few hundred terms.
class name_matcher {
 public:
  explicit name_matcher(const std::string& pattern);

  bool matches(const std::string& name);

 private:
  component_shape _shape;
  std::string _head;  // without sets: the text before the first star, when there is one
  std::string _tail;  // and after the last one
  std::optional<std::regex> _regex;
};

}  // namespace glob::detail
