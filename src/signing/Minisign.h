// The public key and signature files of minisign (Ed25519), parsed.
//
// A public key file holds an "untrusted comment: " line and the base64 of
// "Ed", an 8-byte key ID and the 32-byte public key. A signature file holds
// four lines: an "untrusted comment: " line; the base64 of the algorithm
// ("ED": the BLAKE2b-512 digest of the file is signed, "Ed": the file itself
// is signed, the legacy form), the key ID and the 64-byte signature; a
// "trusted comment: " line; and the base64 of the global signature, made over
// the signature followed by the trusted comment's bytes. A carriage return
// before a line end is dropped; blank lines may follow the last line.
//
// Parsing only: nothing here checks a signature. Failure: SignatureError,
// whose message says what is wrong and on which line.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace signing {

class SignatureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using KeyId = std::array<unsigned char, 8>;

struct PublicKey {
  KeyId id{};
  std::array<unsigned char, 32> key{};
};

struct Signature {
  bool prehashed = true;  // "ED"; false for the legacy "Ed"
  KeyId keyId{};
  std::array<unsigned char, 64> signature{};
  std::string trustedComment;  // without its "trusted comment: " prefix
  std::array<unsigned char, 64> globalSignature{};
};

// One key as its base64 text alone (the second line of a key file).
PublicKey parsePublicKey(std::string_view base64);

// A key file: one or more keys one after another, each as minisign writes
// it, blank lines allowed between them. At least one key is required.
std::vector<PublicKey> parsePublicKeys(std::string_view text);

Signature parseSignature(std::string_view text);

// The key ID as minisign prints it: 16 upper-case hex digits of the ID read
// as a little-endian number.
std::string keyIdText(const KeyId& id);

}  // namespace signing
