// Pattern text alone: magic detection, the recursive component, translation
// into regular expressions, whole-name matching and the walk's fast matcher.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "glob/detail.h"

namespace {

using namespace glob::detail;

TEST(PatternText, MagicAndRecursion) {
  for (const char* s : {"*", "a?b", "x/[ab]", "a["}) EXPECT_TRUE(has_magic(s)) << s;
  for (const char* s : {"", "a]b", "x!y", "a-b\\c"}) EXPECT_FALSE(has_magic(s)) << s;
  EXPECT_TRUE(is_recursive("**"));
  for (const char* s : {"*", "***", "a**", "**/"}) EXPECT_FALSE(is_recursive(s)) << s;
}

TEST(Translate, Translations) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"*.txt", R"(((.*\.txt)|[\r\n])$)"},
      {"?", R"(((.)|[\r\n])$)"},
      {"[!a-c]x", R"((([^a-c]x)|[\r\n])$)"},
      {"[^a]", R"((([\\^a])|[\r\n])$)"},
      {"[a&b]", R"((([a\&b])|[\r\n])$)"},
      {"a[b", R"(((a\[b)|[\r\n])$)"},
      {"my file(1)", R"(((my\ file\(1\))|[\r\n])$)"},
      // Every special character is escaped; other bytes pass unchanged.
      {"", R"((()|[\r\n])$)"},
      {"(){}+-|^$\\.&~#]", R"(((\(\)\{\}\+\-\|\^\$\\\.\&\~\#\])|[\r\n])$)"},
      {" \t\n\r\v\f\xc3\xa9", "((\\ \\\t\\\n\\\r\\\v\\\f\xc3\xa9)|[\\r\\n])$"},
      // A bracket without a closing one is literal; translation goes on after it.
      {"[!]", R"(((\[!\])|[\r\n])$)"},
      {"[*", R"(((\[.*)|[\r\n])$)"},
      // Sets: only the first backslash is doubled; a leading ^ or [ gets two.
      {"[[]", R"((([\\[])|[\r\n])$)"},
      {"[a~b|c]", R"((([a\~b\|c])|[\r\n])$)"},
      {"[\\d\\w]", R"((([\\d\w])|[\r\n])$)"},
      {"[!^]", R"((([^^])|[\r\n])$)"},
      // A "]" first in a set is an escaped member.
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
    if (pattern != "[\\--z]") {  // the backwards range
      EXPECT_NO_THROW(std::regex{regex}) << pattern;
    }
  }
}

struct MatchRow {
  std::string pattern;
  std::vector<std::string> matching, other;
};

// Both match_name and the walk's matcher give these answers.
TEST(MatchName, WholeNames) {
  const std::vector<MatchRow> rows = {
      {"*.txt", {"a.txt", ".txt"}, {"a.txt.bak", "Readme.TXT"}},
      {"a?c", {"abc"}, {"ac", "abbc", "a\rc", "a\nc"}},
      // A line break never inside * or ?, but a lone one matches anything.
      {"*", {".hidden", "", "\n", "\r"}, {"a\nb", "\r\n"}},
      {"nothing-like-it", {"\n"}, {"\r\n"}},
      {"a\nb", {"a\nb"}, {"a\rb"}},
      {"[a-c]", {"b", "\r"}, {"d", "-"}},
      {"[!a-c]", {"d"}, {"b"}},
      {"[&~|]", {"&", "~", "|"}, {"a"}},
      {"[^a]", {"^", "\\", "a"}, {"b"}},
      {"[[]", {"[", "\\"}, {"a"}},
      {"[]a]", {"]", "a"}, {"b"}},
      {"[!]a]", {"b"}, {"]", "a"}},
      {"[+--c]", {",", "+", "-", "c"}, {"a", "."}},
      {"[a-c--x-z]", {"z", "d", "-", "b"}, {"y"}},
      {"[\\x]", {"\\", "x"}, {"y"}},
      // Unclosed brackets, backslashes and special characters are literal.
      {"[", {"["}, {"a"}},
      {"[!]", {"[!]"}, {"a"}},
      {"a[b", {"a[b"}, {"ab"}},
      {"[*", {"[xyz", "["}, {"xyz"}},
      {"a\\*", {"a\\xyz", "a\\"}, {"axyz"}},
      {"(a+b{2}|.$^)", {"(a+b{2}|.$^)"}, {"(aab{2}|.$^)", "(a+bb|.$^)", "a+b{2}", "(a+b{2}|x$^)", "(a+b{2}|.)"}},
      {"caf??", {"caf\xc3\xa9"}, {"caf\xc3"}},
      {"?", {"\xc3"}, {"\xc3\xa9"}},
      {"a*a.txt", {std::string(4000, 'a') + ".txt"}, {std::string(4000, 'a')}},
  };
  for (const auto& row : rows) {
    for (bool expected : {true, false}) {
      for (const auto& name : expected ? row.matching : row.other) {
        EXPECT_EQ(match_name(name, row.pattern), expected) << "\"" << name << "\" / " << row.pattern;
        EXPECT_EQ(matches(name, row.pattern), expected) << "\"" << name << "\" / " << row.pattern << " (walk)";
      }
    }
  }
}

TEST(MatchName, SetsTheEngineRejectsThrow) {
  // The second backslash of a set stays single, so "\x" reaches the engine;
  // z-a and a-- (from a down to -) run backwards.
  for (const char* pattern : {"[\\x\\x]", "[\\B\\B]", "[z-a]", "[a--c]", "[\\--z]"}) {
    EXPECT_THROW(match_name("a", pattern), std::regex_error) << pattern;
    EXPECT_THROW(matches("a", pattern), std::regex_error) << pattern;
  }
}

// The walk's matcher skips the expression engine for set-free patterns; over
// random patterns and names it gives match_name's answer or its error.
TEST(MatchName, WalkMatcherAgreesWithTheExpression) {
  static const char alphabet[] = "**?ab.\\(+[]!-^&\r\n\xc3";  // its NUL is one more byte
  std::mt19937 random(20261206);
  auto text = [&random](std::size_t longest) {
    std::string t(random() % (longest + 1), ' ');
    for (auto& c : t) c = alphabet[random() % sizeof alphabet];
    return t;
  };
  auto outcome = [](auto&& match) -> std::optional<bool> {
    try {
      return match();
    } catch (const std::regex_error&) {
      return std::nullopt;
    }
  };
  int compared = 0;
  for (int i = 0; i < 2500; ++i) {
    const std::string pattern = text(7);
    for (int k = 0; k < 5; ++k) {
      const std::string name = k == 0 ? pattern : text(9);
      const auto expected = outcome([&] { return match_name(name, pattern); });
      ASSERT_EQ(outcome([&] { return matches(name, pattern); }), expected)
          << "\"" << pattern << "\" \"" << name << "\"";
      compared += expected.has_value();
    }
  }
  EXPECT_GT(compared, 6000);
  // The expression engine takes minutes here; the walk's matcher does not.
  EXPECT_FALSE(matches(std::string(255, 'a'), "*a*a*a*a*a*a*b"));
  EXPECT_TRUE(matches(std::string(255, 'a') + "b", "*a*a*a*a*a*a*b"));
}

// Patterns with sets still go through the expression; a near miss must not
// make it backtrack for minutes.
TEST(MatchName, ManyStarsWithSetsEndQuickly) {
  const std::string pattern = "*[ab]*[ab]*[ab]*[ab]*[ab]*[ab]*[ab]*c";
  EXPECT_FALSE(match_name(std::string(200, 'a'), pattern));
  EXPECT_FALSE(matches(std::string(200, 'a'), pattern));
  EXPECT_TRUE(matches(std::string(200, 'a') + "c", pattern));
  EXPECT_FALSE(match_name(std::string(70, 'a') + "\r", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
