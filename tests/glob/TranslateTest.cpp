// Pattern text alone: magic detection, the recursive component, translation
// into regular expressions and whole-name matching.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "glob/detail.h"

namespace {

using glob::detail::has_magic;
using glob::detail::is_recursive;
using glob::detail::match_name;
using glob::detail::string_replace;
using glob::detail::translate;

TEST(HasMagic, OnlyStarQuestionMarkAndOpeningBracketCount) {
  EXPECT_TRUE(has_magic("*"));
  EXPECT_TRUE(has_magic("a?b"));
  EXPECT_TRUE(has_magic("x/[ab]"));
  EXPECT_TRUE(has_magic("a["));
  EXPECT_TRUE(has_magic("dir/sub/file*"));
  EXPECT_FALSE(has_magic(""));
  EXPECT_FALSE(has_magic("a]b"));
  EXPECT_FALSE(has_magic("x!y"));
  EXPECT_FALSE(has_magic("a-b\\c"));
  EXPECT_FALSE(has_magic("plain/path.txt"));
}

TEST(IsRecursive, ExactlyTwoStars) {
  EXPECT_TRUE(is_recursive("**"));
  EXPECT_FALSE(is_recursive("*"));
  EXPECT_FALSE(is_recursive("***"));
  EXPECT_FALSE(is_recursive("a**"));
  EXPECT_FALSE(is_recursive("**/"));
  EXPECT_FALSE(is_recursive(""));
}

TEST(StringReplace, ReplacesOnlyTheFirstOccurrence) {
  std::string s = "a-b-c";
  string_replace(s, "-", "\\-");
  EXPECT_EQ(s, "a\\-b-c");
  std::string none = "abc";
  string_replace(none, "x", "y");
  EXPECT_EQ(none, "abc");
  std::string longer = "\\\\";
  string_replace(longer, "\\", "\\\\");
  EXPECT_EQ(longer, "\\\\\\");
}

TEST(Translate, WorkedTranslations) {
  EXPECT_EQ(translate("*.txt"), R"(((.*\.txt)|[\r\n])$)");
  EXPECT_EQ(translate("?"), R"(((.)|[\r\n])$)");
  EXPECT_EQ(translate("[!a-c]x"), R"((([^a-c]x)|[\r\n])$)");
  EXPECT_EQ(translate("[^a]"), R"((([\\^a])|[\r\n])$)");
  EXPECT_EQ(translate("[a&b]"), R"((([a\&b])|[\r\n])$)");
  EXPECT_EQ(translate("a[b"), R"(((a\[b)|[\r\n])$)");
  EXPECT_EQ(translate("my file(1)"), R"(((my\ file\(1\))|[\r\n])$)");
}

TEST(Translate, EmptyPatternGivesEmptyAlternative) { EXPECT_EQ(translate(""), R"((()|[\r\n])$)"); }

TEST(Translate, EscapesEverySpecialCharacterOutsideSets) {
  EXPECT_EQ(translate("(){}+-|^$\\.&~#"), R"(((\(\)\{\}\+\-\|\^\$\\\.\&\~\#)|[\r\n])$)");
  EXPECT_EQ(translate(std::string(" \t\n\r\v\f")), std::string("((\\ \\\t\\\n\\\r\\\v\\\f)|[\\r\\n])$"));
  EXPECT_EQ(translate("a]b"), R"(((a\]b)|[\r\n])$)");
  // Bytes above 0x7f pass through unchanged.
  EXPECT_EQ(translate("\xc3\xa9"), "((\xc3\xa9)|[\\r\\n])$");
}

TEST(Translate, UnclosedBracketIsLiteral) {
  EXPECT_EQ(translate("["), R"(((\[)|[\r\n])$)");
  EXPECT_EQ(translate("[!]"), R"(((\[!\])|[\r\n])$)");
  EXPECT_EQ(translate("[]"), R"(((\[\])|[\r\n])$)");
  // The bracket is literal and translation goes on right after it.
  EXPECT_EQ(translate("[*"), R"(((\[.*)|[\r\n])$)");
}

TEST(Translate, SetRules) {
  EXPECT_EQ(translate("[abc]"), R"((([abc])|[\r\n])$)");
  EXPECT_EQ(translate("[a-z]*"), R"((([a-z].*)|[\r\n])$)");
  EXPECT_EQ(translate("[[]"), R"((([\\[])|[\r\n])$)");
  EXPECT_EQ(translate("[a~b|c]"), R"((([a\~b\|c])|[\r\n])$)");
  EXPECT_EQ(translate("[a&&b]"), R"((([a\&\&b])|[\r\n])$)");
  // Only the first backslash of a set is doubled.
  EXPECT_EQ(translate("[\\]"), R"((([\\])|[\r\n])$)");
  EXPECT_EQ(translate("[\\d\\w]"), R"((([\\d\w])|[\r\n])$)");
  // A negated set with a leading caret keeps it as a member.
  EXPECT_EQ(translate("[!^]"), R"((([^^])|[\r\n])$)");
}

TEST(Translate, LeadingClosingBracketIsAnEscapedMember) {
  EXPECT_EQ(translate("[]a]"), R"((([\]a])|[\r\n])$)");
  EXPECT_EQ(translate("[!]a]"), R"((([^\]a])|[\r\n])$)");
  EXPECT_EQ(translate("[]]"), R"((([\]])|[\r\n])$)");
  EXPECT_EQ(translate("[]-a]"), R"((([\]-a])|[\r\n])$)");
}

TEST(Translate, SetDifferenceSplitsAtRangeHyphens) {
  // "+--c": the range from + to -, then the member c.
  EXPECT_EQ(translate("[+--c]"), R"((([+-\-c])|[\r\n])$)");
  EXPECT_EQ(translate("[!+--c]"), R"((([^+-\-c])|[\r\n])$)");
  // A hyphen right after the bracket is not a range hyphen.
  EXPECT_EQ(translate("[--/]"), R"((([\--/])|[\r\n])$)");
  // After a range that ends right before it, a hyphen is a member: a-c, the
  // range from - to x, then the members - and z.
  EXPECT_EQ(translate("[a-c--x-z]"), R"((([a-c\--x\-z])|[\r\n])$)");
  EXPECT_EQ(translate("[\\--z]"), R"((([\\-\-z])|[\r\n])$)");
}

TEST(Translate, EveryTranslationOfOrdinaryTextCompiles) {
  for (const char* pattern :
       {"*.txt",      "?",      "[!a-c]x", "[^a]", "[a&b]", "a[b", "my file(1)", "[]a]", "[!]a]", "[+--c]", "[--/]",
        "[a-c--x-z]", "x{1,2}", "a|b",     "^$",   "(",     ")",   "\\",         "[[]",  "[\\]",  "#~&"}) {
    EXPECT_NO_THROW(std::regex{translate(pattern)}) << pattern;
  }
}

TEST(MatchName, WholeNameMustMatch) {
  EXPECT_TRUE(match_name("a.txt", "*.txt"));
  EXPECT_TRUE(match_name(".txt", "*.txt"));
  EXPECT_FALSE(match_name("a.txt.bak", "*.txt"));
  EXPECT_FALSE(match_name("Readme.TXT", "*.txt"));
  EXPECT_FALSE(match_name("xa.txt", "a*"));
  EXPECT_TRUE(match_name("abc", "a?c"));
  EXPECT_FALSE(match_name("ac", "a?c"));
  EXPECT_FALSE(match_name("abbc", "a?c"));
}

TEST(MatchName, StarMatchesDotNames) {
  EXPECT_TRUE(match_name(".hidden", "*"));
  EXPECT_TRUE(match_name("", "*"));
  EXPECT_TRUE(match_name(".", "?"));
}

TEST(MatchName, LineBreaks) {
  EXPECT_FALSE(match_name("a\nb", "*"));
  EXPECT_FALSE(match_name("a\rb", "a?b"));
  EXPECT_FALSE(match_name("a\n", "a*"));
  // A name that is exactly one line break matches every pattern.
  EXPECT_TRUE(match_name("\n", "nothing-like-it"));
  EXPECT_TRUE(match_name("\r", "[abc]"));
  EXPECT_FALSE(match_name("\r\n", "*"));
  // A literal line break in the pattern matches itself.
  EXPECT_TRUE(match_name("a\nb", "a\nb"));
}

TEST(MatchName, Sets) {
  EXPECT_TRUE(match_name("b", "[a-c]"));
  EXPECT_FALSE(match_name("d", "[a-c]"));
  EXPECT_TRUE(match_name("d", "[!a-c]"));
  EXPECT_FALSE(match_name("b", "[!a-c]"));
  EXPECT_TRUE(match_name("bx", "[!a]x"));
  EXPECT_FALSE(match_name("ax", "[!a]x"));
  for (const char* name : {"a", "&", "b"}) EXPECT_TRUE(match_name(name, "[a&b]")) << name;
  for (const char* name : {"a", "~", "b"}) EXPECT_TRUE(match_name(name, "[a~b]")) << name;
  for (const char* name : {"a", "|", "b"}) EXPECT_TRUE(match_name(name, "[a|b]")) << name;
  EXPECT_FALSE(match_name("c", "[a|b]"));
}

TEST(MatchName, CaretFirstIsNotNegation) {
  EXPECT_TRUE(match_name("^", "[^a]"));
  EXPECT_TRUE(match_name("a", "[^a]"));
  EXPECT_TRUE(match_name("\\", "[^a]"));
  EXPECT_FALSE(match_name("b", "[^a]"));
  EXPECT_TRUE(match_name("[", "[[]"));
  EXPECT_TRUE(match_name("\\", "[[]"));
}

TEST(MatchName, LeadingClosingBracketStandsForItself) {
  EXPECT_TRUE(match_name("]", "[]a]"));
  EXPECT_TRUE(match_name("a", "[]a]"));
  EXPECT_FALSE(match_name("b", "[]a]"));
  EXPECT_FALSE(match_name("]", "[!]a]"));
  EXPECT_FALSE(match_name("a", "[!]a]"));
  EXPECT_TRUE(match_name("b", "[!]a]"));
  EXPECT_TRUE(match_name("]", "[]]"));
}

TEST(MatchName, UnclosedBracketsAreLiteral) {
  EXPECT_TRUE(match_name("[", "["));
  EXPECT_TRUE(match_name("[!]", "[!]"));
  EXPECT_TRUE(match_name("a[b", "a[b"));
  EXPECT_FALSE(match_name("ab", "a[b"));
  EXPECT_TRUE(match_name("[xyz", "[*"));
}

TEST(MatchName, BackslashIsOrdinaryOutsideSets) {
  EXPECT_TRUE(match_name("a\\b", "a\\b"));
  EXPECT_FALSE(match_name("ab", "a\\b"));
  EXPECT_TRUE(match_name("a\\*", "a\\*"));
  EXPECT_TRUE(match_name("a\\xyz", "a\\*"));
}

TEST(MatchName, SetDifference) {
  for (const char* name : {"+", ",", "-", "c"}) EXPECT_TRUE(match_name(name, "[+--c]")) << name;
  for (const char* name : {"a", "b", "*", "."}) EXPECT_FALSE(match_name(name, "[+--c]")) << name;
  for (const char* name : {"a", "c", "-", "x", "z"}) EXPECT_TRUE(match_name(name, "[a-c--x-z]")) << name;
  for (const char* name : {"y", "{", "!"}) EXPECT_FALSE(match_name(name, "[a-c--x-z]")) << name;
}

TEST(MatchName, SpecialCharactersAreLiteral) {
  EXPECT_TRUE(match_name("my file(1)", "my file(1)"));
  EXPECT_FALSE(match_name("my file1", "my file(1)"));
  EXPECT_TRUE(match_name("a+b", "a+b"));
  EXPECT_FALSE(match_name("aab", "a+b"));
  EXPECT_TRUE(match_name("x{2}", "x{2}"));
  EXPECT_TRUE(match_name("a|b", "a|b"));
  EXPECT_FALSE(match_name("a", "a|b"));
  EXPECT_TRUE(match_name("a.b", "a.b"));
  EXPECT_FALSE(match_name("axb", "a.b"));
  EXPECT_TRUE(match_name("$^", "$^"));
}

TEST(MatchName, BytesAboveAsciiMatchThemselves) {
  EXPECT_TRUE(match_name("caf\xc3\xa9.txt", "caf\xc3\xa9.*"));
  EXPECT_TRUE(match_name("\xc3\xa9", "??"));
  EXPECT_FALSE(match_name("\xc3\xa9", "?"));
}

TEST(MatchName, LongNames) {
  const std::string name(4000, 'a');
  EXPECT_TRUE(match_name(name, "*"));
  EXPECT_TRUE(match_name(name + ".txt", "a*a.txt"));
  EXPECT_FALSE(match_name(name, "*b"));
}

TEST(MatchName, InvalidSetEscapeIsARegexError) {
  // The second backslash of a set stays single, so "\q" reaches the engine.
  EXPECT_THROW(match_name("x", "[\\x\\x]"), std::regex_error);
  EXPECT_THROW(match_name("B", "[\\B\\B]"), std::regex_error);
  // The first backslash is doubled, so a single one is harmless.
  EXPECT_TRUE(match_name("x", "[\\x]"));
  EXPECT_TRUE(match_name("\\", "[\\x]"));
  // "a--c" is the range from a down to -, which runs backwards.
  EXPECT_THROW(match_name("a", "[a--c]"), std::regex_error);
  // A range running backwards is rejected by the engine too.
  EXPECT_THROW(match_name("b", "[z-a]"), std::regex_error);
}

}  // namespace
