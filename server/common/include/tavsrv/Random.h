// Unpredictable tokens (login tickets, web-page keys, internal tokens) from libsodium.
#pragma once

#include <string>

namespace tavsrv {

// False when libsodium cannot be initialised; call once before using the others.
bool initCrypto();
// 2 * bytes lowercase hexadecimal digits from the system's random source.
std::string randomHex(size_t bytes);
// Compares in time independent of where the texts differ.
bool equalSecrets(const std::string& a, const std::string& b);

}  // namespace tavsrv
