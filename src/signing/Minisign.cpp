#include "signing/Minisign.h"

#include <sodium.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace signing {
namespace {

const std::string_view kUntrustedPrefix = "untrusted comment: ";
const std::string_view kTrustedPrefix = "trusted comment: ";
const std::string_view kKeyAlgorithm = "Ed";
const std::string_view kLegacyAlgorithm = "Ed";
const std::string_view kPrehashedAlgorithm = "ED";

// The text's lines without their line ends (and without a carriage return
// before one); a final line end does not start another line.
std::vector<std::string_view> splitLines(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) throw SignatureError("holds a NUL byte");
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

[[noreturn]] void failOnLine(std::size_t index, const std::string& problem) {
  throw SignatureError("line " + std::to_string(index + 1) + ": " + problem);
}

// Decodes standard padded base64 that must yield exactly `size` bytes.
bool decodeExactly(std::string_view base64, unsigned char* out, std::size_t size) {
  std::size_t decoded = 0;
  return sodium_base642bin(out, size, base64.data(), base64.size(), nullptr, &decoded, nullptr,
                           sodium_base64_VARIANT_ORIGINAL) == 0 &&
         decoded == size;
}

void requireCommentLine(const std::vector<std::string_view>& lines, std::size_t index, std::string_view prefix) {
  if (index >= lines.size()) failOnLine(index, "missing; expected a line starting \"" + std::string(prefix) + "\"");
  if (!startsWith(lines[index], prefix)) failOnLine(index, "does not start \"" + std::string(prefix) + "\"");
}

void requireLine(const std::vector<std::string_view>& lines, std::size_t index, const char* what) {
  if (index >= lines.size()) failOnLine(index, std::string("missing; expected ") + what);
}

// Only blank lines may follow the last line of a file.
void requireNothingFrom(const std::vector<std::string_view>& lines, std::size_t index) {
  for (; index < lines.size(); ++index) {
    if (!lines[index].empty()) failOnLine(index, "unexpected text after the signature");
  }
}

}  // namespace

PublicKey parsePublicKey(std::string_view base64) {
  unsigned char raw[2 + 8 + 32];
  if (!decodeExactly(base64, raw, sizeof raw)) throw SignatureError("not the base64 text of a minisign public key");
  if (std::memcmp(raw, kKeyAlgorithm.data(), 2) != 0) throw SignatureError("key of an unsupported algorithm");
  PublicKey key;
  std::memcpy(key.id.data(), raw + 2, key.id.size());
  std::memcpy(key.key.data(), raw + 2 + key.id.size(), key.key.size());
  return key;
}

std::vector<PublicKey> parsePublicKeys(std::string_view text) {
  const std::vector<std::string_view> lines = splitLines(text);
  std::vector<PublicKey> keys;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    if (lines[index].empty()) continue;
    requireCommentLine(lines, index, kUntrustedPrefix);
    ++index;
    requireLine(lines, index, "the key after its comment");
    try {
      keys.push_back(parsePublicKey(lines[index]));
    } catch (const SignatureError& error) {
      failOnLine(index, error.what());
    }
  }
  if (keys.empty()) throw SignatureError("holds no key");
  return keys;
}

Signature parseSignature(std::string_view text) {
  const std::vector<std::string_view> lines = splitLines(text);
  Signature signature;

  requireCommentLine(lines, 0, kUntrustedPrefix);
  requireLine(lines, 1, "the signature");
  unsigned char raw[2 + 8 + 64];
  if (!decodeExactly(lines[1], raw, sizeof raw)) failOnLine(1, "not the base64 text of a minisign signature");
  const std::string_view algorithm(reinterpret_cast<const char*>(raw), 2);
  if (algorithm == kPrehashedAlgorithm) {
    signature.prehashed = true;
  } else if (algorithm == kLegacyAlgorithm) {
    signature.prehashed = false;
  } else {
    failOnLine(1, "signature of an unsupported algorithm");
  }
  std::memcpy(signature.keyId.data(), raw + 2, signature.keyId.size());
  std::memcpy(signature.signature.data(), raw + 2 + signature.keyId.size(), signature.signature.size());

  requireCommentLine(lines, 2, kTrustedPrefix);
  signature.trustedComment = std::string(lines[2].substr(kTrustedPrefix.size()));
  requireLine(lines, 3, "the signature of the trusted comment");
  if (!decodeExactly(lines[3], signature.globalSignature.data(), signature.globalSignature.size())) {
    failOnLine(3, "not the base64 text of a trusted comment signature");
  }
  requireNothingFrom(lines, 4);
  return signature;
}

std::string keyIdText(const KeyId& id) {
  std::uint64_t value = 0;
  for (std::size_t i = id.size(); i-- > 0;) value = (value << 8) | id[i];
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace signing
