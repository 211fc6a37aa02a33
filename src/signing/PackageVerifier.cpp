#include "signing/PackageVerifier.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/UniqueFd.h"
#include "signing/SmallFile.h"

namespace signing {
namespace {

// Far more than minisign writes (a trusted comment is below 4 KiB).
constexpr std::size_t kSignatureFileLimit = 64 * 1024;

bool signs(const PublicKey& key, const unsigned char* signature, const unsigned char* message, std::size_t size) {
  return crypto_sign_verify_detached(signature, message, size, key.key.data()) == 0;
}

// The message that the signature signs: the BLAKE2b-512 digest of the
// package, or the package itself for the legacy algorithm.
struct SignedMessage {
  const unsigned char* bytes;
  std::size_t size;
};

}  // namespace

VerifiedPackage verifyPackage(const std::string& packagePath, const std::string& signaturePath,
                              const std::vector<PublicKey>& trusted) {
  assert(!trusted.empty());
  if (sodium_init() < 0) throw SignatureError("the signature library cannot be initialised");
  const std::string signatureFile = "signature file " + signaturePath;

  const std::string text = readSmallFile(signaturePath, kSignatureFileLimit, signatureFile);
  Signature signature;
  try {
    signature = parseSignature(text);
  } catch (const SignatureError& error) {
    throw SignatureError(signatureFile + " is malformed: " + error.what());
  }
  std::vector<const PublicKey*> candidates;
  for (const PublicKey& key : trusted) {
    if (key.id == signature.keyId) candidates.push_back(&key);
  }
  if (candidates.empty()) {
    throw SignatureError(signatureFile + " is made with key " + keyIdText(signature.keyId) +
                         ", which is not a trusted key");
  }

  platform::UniqueFd package(::open(packagePath.c_str(), O_RDONLY | O_CLOEXEC));
  if (package.get() < 0) {
    throw std::filesystem::filesystem_error("cannot open package", packagePath,
                                            std::error_code(errno, std::generic_category()));
  }
  auto copy = std::make_shared<const platform::SealedCopy>(package.get());

  unsigned char digest[crypto_generichash_BYTES_MAX];
  SignedMessage message{copy->data(), copy->size()};
  if (signature.prehashed) {
    crypto_generichash(digest, sizeof digest, copy->data(), copy->size(), nullptr, 0);
    message = {digest, sizeof digest};
  }
  const PublicKey* signer = nullptr;
  for (const PublicKey* key : candidates) {
    if (signs(*key, signature.signature.data(), message.bytes, message.size)) {
      signer = key;
      break;
    }
  }
  if (signer == nullptr) throw SignatureError("package does not match " + signatureFile);

  std::string global(reinterpret_cast<const char*>(signature.signature.data()), signature.signature.size());
  global += signature.trustedComment;
  if (!signs(*signer, signature.globalSignature.data(), reinterpret_cast<const unsigned char*>(global.data()),
             global.size())) {
    throw SignatureError("trusted comment of " + signatureFile + " does not match its signature");
  }
  return VerifiedPackage{copy, signer->id, signature.trustedComment};
}

}  // namespace signing
