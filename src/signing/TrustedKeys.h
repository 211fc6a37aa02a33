// The public keys whose signatures the updater accepts: those of a key file
// (for the updater, `updater.pub` beside its own executable) and those built
// in at configure time. No key at all means packages are not checked.
//
// The key file is optional, but one that exists must hold at least one
// readable key: an empty, damaged or unreadable file must not silently turn
// the checking off. Failure: SignatureError naming the file (or the built-in
// keys) and the problem.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "signing/Minisign.h"

namespace signing {

// `builtIn` holds base64 key texts (as `minisign -P` takes them) separated by
// white space; it may be empty.
std::vector<PublicKey> loadTrustedKeys(const std::filesystem::path& keyFile, std::string_view builtIn);

}  // namespace signing
