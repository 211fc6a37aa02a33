#include "signing/PackageVerifier.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/FileDescriptor.h"
#include "platform/SystemError.h"
#include "signing/SmallFile.h"

namespace signing {
namespace {

// Far more than minisign writes (a trusted comment is below 4 KiB).
constexpr std::size_t kSignatureFileLimit = 64 * 1024;

bool signs(const PublicKey& key, const unsigned char* signature, const unsigned char* message, std::size_t size) {
  return crypto_sign_verify_detached(signature, message, size, key.key.data()) == 0;
}

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

  // Not blocking: opening a pipe would otherwise wait for a writer. Reads of
  // a regular file are not affected.
  platform::FileDescriptor package(::open(packagePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (package.get() < 0) {
    platform::throwSystemError("cannot open package", packagePath, errno);
  }
  // A device or a pipe could feed the copy without end.
  struct stat info;
  if (::fstat(package.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    throw std::runtime_error("package " + packagePath + " is not a regular file");
  }
  // The signed message: for the prehashed algorithm the BLAKE2b-512 digest
  // of the package, taken block by block as the copy is made; for the legacy
  // one the whole copy, mapped.
  crypto_generichash_state hash;
  crypto_generichash_init(&hash, nullptr, 0, crypto_generichash_BYTES_MAX);
  platform::SealedCopy::BlockSink hashBlock = nullptr;
  if (signature.prehashed) {
    hashBlock = [&hash](const unsigned char* bytes, std::size_t size) {
      crypto_generichash_update(&hash, bytes, size);
    };
  }
  auto copy = std::make_shared<const platform::SealedCopy>(package.get(), hashBlock);
  unsigned char digest[crypto_generichash_BYTES_MAX];
  crypto_generichash_final(&hash, digest, sizeof digest);
  std::unique_ptr<const platform::MappedBytes> whole;
  const unsigned char* message = digest;
  std::size_t messageSize = sizeof digest;
  if (!signature.prehashed) {
    whole = copy->map();
    message = whole->data();
    messageSize = whole->size();
  }

  const PublicKey* signer = nullptr;
  for (const PublicKey* key : candidates) {
    if (signs(*key, signature.signature.data(), message, messageSize)) {
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
