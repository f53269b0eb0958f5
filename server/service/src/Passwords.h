// Password hashes: Argon2id strings from libsodium (crypto_pwhash_str), which
// carry their own salt and limits. Argon2id is deliberately slow and memory-hard,
// so at most a few hashes run at the same time; the others wait their turn.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include "service/Service.h"

namespace tavsvc {

class PasswordHasher {
public:
  PasswordHasher(PasswordStrength strength, int concurrent);

  // Empty on failure (out of memory).
  std::string hash(const std::string& password);
  bool verify(const std::string& storedHash, const std::string& password);

private:
  class Slot;
  unsigned long long opsLimit_;
  size_t memLimit_;
  std::mutex mutex_;
  std::condition_variable freed_;
  int free_;
};

}  // namespace tavsvc
