// Checks an update package against its minisign signature and keeps the
// checked bytes.
//
// The package is copied once into a sealed private copy (platform::SealedCopy)
// and the signature is checked over the bytes of that copy, so the bytes
// checked are exactly the bytes that later reads are given: replacing or
// rewriting the package on disk afterwards changes nothing that is used.
// Prehashed signatures ("ED") hash each block with BLAKE2b-512 as it goes
// into the copy (constant memory besides the copy); legacy ones ("Ed") are
// checked over the mapped copy. Cryptography: libsodium.
//
// Failure: SignatureError whose message names the signature problem (the
// signature file unreadable or malformed, made by a key that is not trusted,
// a package that does not match it, a trusted comment that does not match its
// own signature); std::filesystem::filesystem_error when the package cannot
// be read or copied.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/SealedCopy.h"
#include "signing/Minisign.h"

namespace signing {

struct VerifiedPackage {
  std::shared_ptr<const platform::SealedCopy> copy;  // the checked bytes
  KeyId keyId{};
  std::string trustedComment;
};

// REQUIRES: `trusted` is not empty.
VerifiedPackage verifyPackage(const std::string& packagePath, const std::string& signaturePath,
                              const std::vector<PublicKey>& trusted);

}  // namespace signing
