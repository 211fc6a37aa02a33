// The process-wide alias registry: whole-string lookup, rebinding, and the
// exception for an unbound alias.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "alias/AliasResolver.h"

namespace {

AliasResolver& aliases() { return AliasResolver::getInstance(); }

std::string resolved(const std::string& text) {
  try {
    return aliases().resolve(text);
  } catch (const std::runtime_error& error) {
    return std::string("thrown: ") + error.what();
  }
}

}  // namespace

TEST(AliasResolver, ResolvesWholeTextsBeginningWithAt) {
  aliases().addAlias("@update.zip", "/first/update.zip");
  aliases().addAlias("@update.zip", "/pkg/update.zip");
  const std::string unbound = "thrown: Alias does not found";
  const std::pair<std::string, std::string> cases[] = {{"/opt/app/bin", "/opt/app/bin"},
                                                       {"user@update.zip", "user@update.zip"},
                                                       {"@update.zip", "/pkg/update.zip"},
                                                       {"@", unbound},
                                                       {"@update.zip/manifest.json", unbound}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(resolved(text), expected) << text;
  }
}
