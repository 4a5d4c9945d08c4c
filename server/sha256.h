// SHA-256, for the salted password hashes of the user catalog.
#pragma once

#include <string>

namespace zdbd {

// The digest of `data` as 64 lowercase hex digits.
std::string Sha256Hex(const std::string& data);

}  // namespace zdbd
