// Fuzz target: minisign key and signature files from arbitrary bytes.
//
// The same bytes go to the key-file parser, the signature parser and the
// single-key parser. Each either returns a result or throws SignatureError,
// nothing else. What is parsed is checked for what the run relies on: a key
// file yields at least one key, every key ID prints as 16 hex digits, and a
// trusted comment (printed on one line) holds no line end and no NUL byte.
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "signing/Minisign.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    std::vector<signing::PublicKey> keys = signing::parsePublicKeys(text);
    FUZZ_CHECK(!keys.empty());
    for (const auto& key : keys) FUZZ_CHECK(signing::keyIdText(key.id).size() == 16);
  } catch (const signing::SignatureError&) {
  }
  try {
    signing::Signature signature = signing::parseSignature(text);
    FUZZ_CHECK(signature.trustedComment.find_first_of(std::string("\n\0", 2)) == std::string::npos);
    FUZZ_CHECK(signing::keyIdText(signature.keyId).size() == 16);
  } catch (const signing::SignatureError&) {
  }
  try {
    (void)signing::parsePublicKey(text);
  } catch (const signing::SignatureError&) {
  }
  return 0;
}
