// Whole-name matching: the expression the pattern translates to and the walk's
// fast matcher must agree, reject the same bad sets and never backtrack for long.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "glob/detail/pattern.h"

namespace {

using namespace glob::detail;

TEST(MatchName, WholeNames) {
  struct Row {
    std::string pattern;
    std::vector<std::string> matching, other;
  };
  const std::vector<Row> rows = {
      {"*.txt", {"a.txt", ".txt"}, {"a.txt.bak", "Readme.TXT"}},
      {"a?c", {"abc"}, {"ac", "abbc", "a\nc"}},
      // A line break never inside * or ?, but a lone one matches anything.
      {"*", {".hidden", "", "\n"}, {"a\nb", "\r\n"}},
      {"[!a-c]", {"d"}, {"b"}},
      {"[^a]", {"^", "\\", "a"}, {"b"}},
      {"[]a]", {"]", "a"}, {"b"}},
      {"[+--c]", {",", "+", "-", "c"}, {"a", "."}},
      // Unclosed brackets and special characters are literal.
      {"[*", {"[xyz", "["}, {"xyz"}},
      {"(a+b{2}|.$^)", {"(a+b{2}|.$^)"}, {"(aab{2}|.$^)", "a+b{2}"}},
      {"?", {"\xc3"}, {"\xc3\xa9"}},
  };
  for (const auto& row : rows) {
    for (bool expected : {true, false}) {
      for (const auto& name : expected ? row.matching : row.other) {
        EXPECT_EQ(match_name(name, row.pattern), expected) << "\"" << name << "\" / " << row.pattern;
      }
    }
  }
  // Sets the engine rejects (a second backslash stays single; z-a runs backwards).
  for (const char* pattern : {"[\\x\\x]", "[z-a]"}) EXPECT_THROW(match_name("a", pattern), std::regex_error) << pattern;
}

// The matcher skips the expression engine where it can; over random patterns
// and names it gives the translated expression's answer or its error.
TEST(MatchName, AgreesWithTheTranslatedExpression) {
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
      const auto expected = outcome([&] { return std::regex_match(name, std::regex(translate(pattern))); });
      ASSERT_EQ(outcome([&] { return match_name(name, pattern); }), expected)
          << "\"" << pattern << "\" \"" << name << "\"";
      compared += expected.has_value();
    }
  }
  EXPECT_GT(compared, 6000);
}

// A near miss with many stars must not backtrack for minutes.
TEST(MatchName, ManyStarsEndQuickly) {
  EXPECT_FALSE(match_name(std::string(255, 'a'), "*a*a*a*a*a*a*b"));
  EXPECT_TRUE(match_name(std::string(255, 'a') + "b", "*a*a*a*a*a*a*b"));
  const std::string sets = "*[ab]*[ab]*[ab]*[ab]*[ab]*[ab]*[ab]*c";
  EXPECT_FALSE(match_name(std::string(200, 'a'), sets));
  EXPECT_TRUE(match_name(std::string(200, 'a') + "c", sets));
}

// Components far longer than a name: nothing is compiled (the compiler would
// recurse once per term), runs of stars count once, and only what needs more
// than 255 bytes is out of reach.
TEST(MatchName, LongComponents) {
  const std::string name(255, 'a');
  EXPECT_FALSE(match_name(name, std::string(100000, '?')));
  EXPECT_TRUE(match_name("\n", std::string(100000, '?')));
  EXPECT_FALSE(match_name(name, std::string(1000000, 'a') + "*"));
  EXPECT_FALSE(match_name(name, std::string(256, '?') + "[\\x\\x]"));  // a bad set never compiled
  EXPECT_TRUE(match_name(name, std::string(254, '?') + "[ab]"));
  EXPECT_TRUE(match_name(name, std::string(100000, '*') + "[a]" + std::string(100000, '*')));
  EXPECT_TRUE(match_name(name, std::string(255, '?') + std::string(100000, '*')));
}

}  // namespace
