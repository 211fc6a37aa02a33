// The process-wide alias registry: whole-string lookup, rebinding, and the
// exception for an unbound alias.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "driver/AliasResolver.h"

namespace {

AliasResolver& aliases() { return AliasResolver::getInstance(); }

std::string failureOf(const std::string& text) {
  try {
    aliases().resolve(text);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "no exception";
}

}  // namespace

TEST(AliasResolver, IsOneInstancePerProcess) { EXPECT_EQ(&AliasResolver::getInstance(), &aliases()); }

TEST(AliasResolver, TextsWithoutLeadingAtPassUnchanged) {
  EXPECT_EQ(aliases().resolve(""), "");
  EXPECT_EQ(aliases().resolve("/opt/app/bin"), "/opt/app/bin");
  EXPECT_EQ(aliases().resolve("user@update.zip"), "user@update.zip");
  EXPECT_EQ(aliases().resolve(" @update.zip"), " @update.zip");
}

TEST(AliasResolver, BoundAliasGivesItsPath) {
  aliases().addAlias("@resolver-test.zip", "/tmp/package.zip");
  EXPECT_EQ(aliases().resolve("@resolver-test.zip"), "/tmp/package.zip");
}

TEST(AliasResolver, RebindingKeepsOnlyTheLaterPath) {
  aliases().addAlias("@update.zip", "/first/update.zip");
  aliases().addAlias("@update.zip", "/second/update.zip");
  EXPECT_EQ(aliases().resolve("@update.zip"), "/second/update.zip");
}

TEST(AliasResolver, UnboundAliasesThrow) {
  aliases().addAlias("@update.zip", "/pkg/update.zip");
  EXPECT_EQ(failureOf("@"), "Alias does not found");
  EXPECT_EQ(failureOf("@never-bound"), "Alias does not found");
  // Case-sensitive, and always the whole text: no prefix lookup.
  EXPECT_EQ(failureOf("@Update.zip"), "Alias does not found");
  EXPECT_EQ(failureOf("@update.zip/manifest.json"), "Alias does not found");
  EXPECT_EQ(failureOf("@update.zi"), "Alias does not found");
}

TEST(AliasResolver, AnyTextCanBeBound) {
  // Nothing is validated: an alias without "@" is stored but never looked up.
  aliases().addAlias("plain", "/somewhere");
  EXPECT_EQ(aliases().resolve("plain"), "plain");
  aliases().addAlias("@empty-path", "");
  EXPECT_EQ(aliases().resolve("@empty-path"), "");
}
