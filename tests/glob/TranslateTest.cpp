// Whole-name matching: the expression the pattern translates to and the walk's
// fast matcher must agree, reject the same bad sets and never backtrack for long.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "glob/detail.h"

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
        EXPECT_EQ(matches(name, row.pattern), expected) << "\"" << name << "\" / " << row.pattern << " (walk)";
      }
    }
  }
  // Sets the engine rejects (a second backslash stays single; z-a runs backwards).
  for (const char* pattern : {"[\\x\\x]", "[z-a]"}) {
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
}

// A near miss with many stars must not backtrack for minutes.
TEST(MatchName, ManyStarsEndQuickly) {
  EXPECT_FALSE(matches(std::string(255, 'a'), "*a*a*a*a*a*a*b"));
  EXPECT_TRUE(matches(std::string(255, 'a') + "b", "*a*a*a*a*a*a*b"));
  const std::string sets = "*[ab]*[ab]*[ab]*[ab]*[ab]*[ab]*[ab]*c";
  EXPECT_FALSE(match_name(std::string(200, 'a'), sets));
  EXPECT_FALSE(matches(std::string(200, 'a'), sets));
  EXPECT_TRUE(matches(std::string(200, 'a') + "c", sets));
}

}  // namespace
