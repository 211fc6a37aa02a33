// Pattern text alone: magic detection, the recursive component, translation
// into regular expressions and whole-name matching.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "glob/detail.h"

namespace {

using namespace glob::detail;

TEST(PatternText, MagicRecursionAndReplacement) {
  for (const char* s : {"*", "a?b", "x/[ab]", "a[", "dir/sub/file*"}) EXPECT_TRUE(has_magic(s)) << s;
  for (const char* s : {"", "a]b", "x!y", "a-b\\c", "plain/path.txt"}) EXPECT_FALSE(has_magic(s)) << s;
  EXPECT_TRUE(is_recursive("**"));
  for (const char* s : {"*", "***", "a**", "**/", ""}) EXPECT_FALSE(is_recursive(s)) << s;
  std::string s = "a-b-c";
  string_replace(s, "-", "\\-");
  EXPECT_EQ(s, "a\\-b-c");
  string_replace(s, "x", "y");
  EXPECT_EQ(s, "a\\-b-c");
}

TEST(Translate, Translations) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // The worked translations.
      {"*.txt", R"(((.*\.txt)|[\r\n])$)"},
      {"?", R"(((.)|[\r\n])$)"},
      {"[!a-c]x", R"((([^a-c]x)|[\r\n])$)"},
      {"[^a]", R"((([\\^a])|[\r\n])$)"},
      {"[a&b]", R"((([a\&b])|[\r\n])$)"},
      {"a[b", R"(((a\[b)|[\r\n])$)"},
      {"my file(1)", R"(((my\ file\(1\))|[\r\n])$)"},
      // Every special character is escaped; other bytes pass unchanged.
      {"", R"((()|[\r\n])$)"},
      {"(){}+-|^$\\.&~#", R"(((\(\)\{\}\+\-\|\^\$\\\.\&\~\#)|[\r\n])$)"},
      {" \t\n\r\v\f", "((\\ \\\t\\\n\\\r\\\v\\\f)|[\\r\\n])$"},
      {"a]b", R"(((a\]b)|[\r\n])$)"},
      {"\xc3\xa9", "((\xc3\xa9)|[\\r\\n])$"},
      // A bracket without a closing one is literal; translation goes on after it.
      {"[", R"(((\[)|[\r\n])$)"},
      {"[!]", R"(((\[!\])|[\r\n])$)"},
      {"[*", R"(((\[.*)|[\r\n])$)"},
      // Sets: only the first backslash is doubled; a leading ^ or [ gets two.
      {"[[]", R"((([\\[])|[\r\n])$)"},
      {"[a~b|c]", R"((([a\~b\|c])|[\r\n])$)"},
      {"[\\d\\w]", R"((([\\d\w])|[\r\n])$)"},
      {"[!^]", R"((([^^])|[\r\n])$)"},
      // A `]` first in a set is an escaped member.
      {"[]a]", R"((([\]a])|[\r\n])$)"},
      {"[!]a]", R"((([^\]a])|[\r\n])$)"},
      // "--": range hyphens split the set; other hyphens become literal.
      {"[+--c]", R"((([+-\-c])|[\r\n])$)"},
      {"[--/]", R"((([\--/])|[\r\n])$)"},
      {"[a-c--x-z]", R"((([a-c\--x\-z])|[\r\n])$)"},
      {"[\\--z]", R"((([\\-\-z])|[\r\n])$)"},
  };
  for (const auto& [pattern, regex] : cases) {
    EXPECT_EQ(translate(pattern), regex) << pattern;
    // All but the backwards range "\\--" compile.
    if (pattern != "[\\--z]") {
      EXPECT_NO_THROW(std::regex{translate(pattern)}) << pattern;
    }
  }
}

struct MatchCase {
  const char* name;
  const char* pattern;
  bool matches;
};

TEST(MatchName, WholeNames) {
  const std::string lf = "\n";
  const std::vector<MatchCase> cases = {
      {"a.txt", "*.txt", true},
      {".txt", "*.txt", true},
      {"a.txt.bak", "*.txt", false},
      {"Readme.TXT", "*.txt", false},
      {".hidden", "*", true},
      {"", "*", true},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"abbc", "a?c", false},
      // Line breaks: never inside * or ?, but a lone one matches anything.
      {"a\nb", "*", false},
      {"a\rb", "a?b", false},
      {"\n", "nothing-like-it", true},
      {"\r", "[abc]", true},
      {"\r\n", "*", false},
      {"a\nb", "a\nb", true},
      // Sets.
      {"b", "[a-c]", true},
      {"d", "[a-c]", false},
      {"d", "[!a-c]", true},
      {"&", "[a&b]", true},
      {"~", "[a~b]", true},
      {"|", "[a|b]", true},
      {"c", "[a|b]", false},
      {"^", "[^a]", true},
      {"\\", "[^a]", true},
      {"b", "[^a]", false},
      {"[", "[[]", true},
      {"]", "[]a]", true},
      {"a", "[]a]", true},
      {"b", "[]a]", false},
      {"]", "[!]a]", false},
      {"b", "[!]a]", true},
      {",", "[+--c]", true},
      {"a", "[+--c]", false},
      {"y", "[a-c--x-z]", false},
      {"z", "[a-c--x-z]", true},
      {"d", "[a-c--x-z]", true},
      {"\\", "[\\x]", true},
      {"x", "[\\x]", true},
      // Unclosed brackets, backslashes and special characters are literal.
      {"[", "[", true},
      {"[!]", "[!]", true},
      {"ab", "a[b", false},
      {"[xyz", "[*", true},
      {"a\\b", "a\\b", true},
      {"ab", "a\\b", false},
      {"a\\xyz", "a\\*", true},
      {"my file1", "my file(1)", false},
      {"aab", "a+b", false},
      {"x{2}", "x{2}", true},
      {"a", "a|b", false},
      {"axb", "a.b", false},
      {"$^", "$^", true},
      {"caf\xc3\xa9", "caf??", true},
      {"\xc3\xa9", "?", false},
  };
  for (const auto& c : cases) EXPECT_EQ(match_name(c.name, c.pattern), c.matches) << c.name << " / " << c.pattern;
  const std::string longest(4000, 'a');
  EXPECT_TRUE(match_name(longest + ".txt", "a*a.txt"));
  EXPECT_FALSE(match_name(longest, "*b"));
}

TEST(MatchName, SetsTheEngineRejectsThrow) {
  // The second backslash of a set stays single, so "\x" reaches the engine.
  EXPECT_THROW(match_name("x", "[\\x\\x]"), std::regex_error);
  EXPECT_THROW(match_name("B", "[\\B\\B]"), std::regex_error);
  // Ranges running backwards: z-a, and a-- (from a down to -).
  EXPECT_THROW(match_name("b", "[z-a]"), std::regex_error);
  EXPECT_THROW(match_name("a", "[a--c]"), std::regex_error);
}

// The walk's matcher skips the expression engine where it can; it must give
// match_name's answer (or its error) for every pattern and name.
TEST(MatchName, WalkMatcherAgreesWithTheExpression) {
  // Each alphabet with its terminating NUL as one more byte.
  static const char pattern_alphabet[] = "**?ab.\\(+[]!-^&\r\n\xc3";
  static const char name_alphabet[] = "ab.\\(+[]!-^&*?\r\n\xc3";
  const std::string pattern_bytes(pattern_alphabet, sizeof pattern_alphabet);
  const std::string name_bytes(name_alphabet, sizeof name_alphabet);
  std::mt19937 random(20261206);
  auto text = [&random](const std::string& bytes, std::size_t longest) {
    std::string t(random() % (longest + 1), ' ');
    for (auto& c : t) c = bytes[random() % bytes.size()];
    return t;
  };
  int compared = 0;
  for (int i = 0; i < 2500; ++i) {
    const std::string pattern = text(pattern_bytes, 7);
    for (int k = 0; k < 5; ++k) {
      const std::string name = k == 0 ? pattern : text(name_bytes, 9);
      std::optional<bool> expected, actual;
      try {
        expected = match_name(name, pattern);
      } catch (const std::regex_error&) {
      }
      try {
        actual = matches(name, pattern);
      } catch (const std::regex_error&) {
      }
      ASSERT_EQ(actual, expected) << "pattern \"" << pattern << "\" name \"" << name << "\"";
      compared += expected.has_value();
    }
  }
  EXPECT_GT(compared, 6000);
}

TEST(MatchName, ManyStarsOnALongNameEndWithoutBacktracking) {
  // The expression engine takes minutes here; the walk's matcher does not.
  EXPECT_FALSE(matches(std::string(255, 'a'), "*a*a*a*a*a*a*b"));
  EXPECT_TRUE(matches(std::string(255, 'a') + "b", "*a*a*a*a*a*a*b"));
}

}  // namespace
