#include "tavsrv/Random.h"

#include <sodium.h>

#include <vector>

namespace tavsrv {

bool initCrypto() {
  return sodium_init() >= 0;
}

std::string randomHex(size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  randombytes_buf(raw.data(), raw.size());
  std::string hex(bytes * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), raw.data(), raw.size());
  hex.resize(bytes * 2);
  return hex;
}

bool equalSecrets(const std::string& a, const std::string& b) {
  if (a.size() != b.size())
    return false;
  return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace tavsrv
