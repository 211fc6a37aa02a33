// The whole of a small text file, such as a key or signature file.
//
// Failure: SignatureError(name + " cannot be read: " + reason) when the file
// cannot be opened or read (a directory cannot be read), and
// (name + " is larger than N bytes") when it holds more than `limit` bytes.
#pragma once

#include <cstddef>
#include <string>

namespace signing {

std::string readSmallFile(const std::string& path, std::size_t limit, const std::string& name);

}  // namespace signing
