// Pattern text: wildcard tests, translation of a component into a regular
// expression, and whole-name matching.
#include "glob/detail/pattern.h"

#include <cstring>
#include <map>
#include <vector>

namespace glob::detail {

bool has_magic(const std::string& s) { return s.find_first_of("*?[") != std::string::npos; }

bool is_recursive(const std::string& pattern) { return pattern == "**"; }

void string_replace(std::string& str, const std::string& from, const std::string& to) {
  const auto start = str.find(from);
  if (start != std::string::npos) {
    str.replace(start, from.size(), to);
  }
}

namespace {

// Puts a backslash before every `&`, `~` and `|`, which the expression engine
// could otherwise read as set operations.
std::string escape_set_operations(const std::string& stuff) {
  std::string out;
  out.reserve(stuff.size());
  for (char c : stuff) {
    if (c == '&' || c == '~' || c == '|') {
      out += '\\';
    }
    out += c;
  }
  return out;
}

// The members of a set with a `--` in it: the hyphens that form ranges split
// the text into chunks, and every other hyphen becomes a literal one.
std::string translate_set_difference(const std::string& pattern, std::size_t i, std::size_t j) {
  std::vector<std::string> chunks;
  std::size_t k = pattern[i] == '!' ? i + 2 : i + 1;
  for (;;) {
    const std::size_t p = pattern.find('-', k);
    if (p == std::string::npos || p >= j) {
      break;
    }
    chunks.push_back(pattern.substr(i, p - i));
    i = p + 1;
    k = p + 3;
  }
  chunks.push_back(pattern.substr(i, j - i));
  std::string stuff;
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    string_replace(chunks[c], "\\", "\\\\");
    string_replace(chunks[c], "-", "\\-");
    if (c > 0) {
      stuff += '-';
    }
    stuff += chunks[c];
  }
  return stuff;
}

// Where the set whose members start at `from` (just past its `[`) ends: the
// index of its closing `]`, or the text's size when it has none. A `!` and
// then a `]` first in the set are members, not its end.
std::size_t set_end(const std::string& pattern, std::size_t from) {
  const std::size_t n = pattern.size();
  std::size_t j = from;
  if (j < n && pattern[j] == '!') ++j;
  if (j < n && pattern[j] == ']') ++j;
  while (j < n && pattern[j] != ']') ++j;
  return j;
}

}  // namespace

std::string translate(const std::string& pattern) {
  static const std::string special_characters = "()[]{}?*+-|^$\\.&~# \t\n\r\v\f";
  // Filled once, before any caller can see it, with a backslash escape for
  // each character the expression engine treats specially.
  static const std::map<int, std::string> special_characters_map = [] {
    std::map<int, std::string> map;
    for (char c : special_characters) {
      map.emplace(static_cast<int>(c), std::string{'\\', c});
    }
    return map;
  }();

  const std::size_t n = pattern.size();
  std::string res;
  std::size_t i = 0;
  while (i < n) {
    const char c = pattern[i];
    ++i;
    if (c == '*') {
      res += ".*";
    } else if (c == '?') {
      res += ".";
    } else if (c == '[') {
      const std::size_t j = set_end(pattern, i);
      if (j >= n) {
        res += "\\[";
        continue;
      }
      std::string stuff = pattern.substr(i, j - i);
      if (stuff.find("--") == std::string::npos) {
        string_replace(stuff, "\\", "\\\\");
      } else {
        stuff = translate_set_difference(pattern, i, j);
      }
      stuff = escape_set_operations(stuff);
      i = j + 1;
      const bool negated = stuff[0] == '!';
      std::string members = negated ? stuff.substr(1) : stuff;
      // A `]` first in the set is a member; escaped, it cannot close the class.
      if (!members.empty() && members[0] == ']') {
        members.insert(0, 1, '\\');
      }
      if (negated) {
        stuff = "^" + members;
      } else if (members[0] == '^' || members[0] == '[') {
        stuff = "\\\\" + members;
      } else {
        stuff = members;
      }
      res += "[";
      res += stuff;
      res += "]";
    } else if (special_characters.find(c) != std::string::npos) {
      res += special_characters_map.at(static_cast<int>(c));
    } else {
      res += c;
    }
  }
  return "((" + res + ")|[\\r\\n])$";
}

namespace {

// Compiles a translated pattern. libstdc++'s default executor backtracks,
// exponentially in the number of stars when a name nearly matches (seconds
// to minutes for a pattern such as *[ab]*[ab]*[ab]*[ab]*c); its breadth-first
// executor gives the same whole-name result in polynomial time. A translated
// pattern never holds a back-reference, which that executor cannot run.
std::regex compile(const std::string& translated) {
#ifdef __GLIBCXX__
  return std::regex(translated, std::regex::ECMAScript | std::regex_constants::__polynomial);
#else
  return std::regex(translated);
#endif
}

// The longest file name the system allows (NAME_MAX on Linux and macOS).
constexpr std::size_t longest_name = 255;

component_shape shape_of(const std::string& pattern) {
  component_shape shape;
  shape.pattern.reserve(pattern.size());
  const std::size_t n = pattern.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = pattern[i];
    if (c == '*') {
      // A set ends in `]`, so a `*` last in the text is a wildcard.
      if (shape.pattern.empty() || shape.pattern.back() != '*') {
        shape.pattern += c;
      }
      ++i;
      continue;
    }
    ++shape.min_bytes;
    std::size_t end = i + 1;
    if (c == '[') {
      const std::size_t j = set_end(pattern, i + 1);
      if (j < n) {
        shape.has_set = true;
        end = j + 1;
      }
    }
    shape.pattern.append(pattern, i, end - i);
    i = end;
  }
  return shape;
}

// Matches a name against a pattern of literal bytes, `*` and `?` only, for a
// name without carriage return or line feed: there the translated expression
// reads `*` as any run of bytes, `?` as any one byte and every other byte as
// itself, and this is what it computes. It takes time proportional to the
// lengths' product at worst, where the expression engine backtracks
// exponentially in the number of stars.
bool wildcard_match(const std::string& name, const std::string& pattern) {
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t star = std::string::npos;
  std::size_t resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      // Let the last star take one more byte and try again from there.
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

// Whether `text` matches `literal`, whose `?` stand for any one byte.
bool same_bytes(const char* text, const std::string& literal) {
  for (std::size_t i = 0; i < literal.size(); ++i) {
    if (literal[i] != '?' && literal[i] != text[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

name_matcher::name_matcher(const std::string& pattern) : _shape(shape_of(pattern)) {
  if (_shape.has_set) {
    return;
  }
  // The bytes before the first star and after the last one must be at the
  // ends of any matching name: most names fail there, at once.
  const std::string& text = _shape.pattern;
  const std::size_t first = text.find('*');
  if (first == std::string::npos) {
    return;
  }
  _head = text.substr(0, first);
  _tail = text.substr(text.rfind('*') + 1);
}

bool name_matcher::matches(const std::string& name) {
  if (_shape.min_bytes > longest_name) {
    return name == "\r" || name == "\n";
  }
  if (!_shape.has_set && std::memchr(name.data(), '\n', name.size()) == nullptr &&
      std::memchr(name.data(), '\r', name.size()) == nullptr) {
    if (name.size() < _shape.min_bytes || !same_bytes(name.data(), _head) ||
        !same_bytes(name.data() + name.size() - _tail.size(), _tail)) {
      return false;
    }
    return wildcard_match(name, _shape.pattern);
  }
  if (!_regex) {
    _regex.emplace(compile(translate(_shape.pattern)));
  }
  return std::regex_match(name, *_regex);
}

bool match_name(const std::string& name, const std::string& pattern) { return name_matcher(pattern).matches(name); }

}  // namespace glob::detail
