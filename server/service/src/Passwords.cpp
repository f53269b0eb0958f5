#include "Passwords.h"

#include <sodium.h>

namespace tavsvc {

class PasswordHasher::Slot {
public:
  explicit Slot(PasswordHasher& owner) : owner_(owner) {
    std::unique_lock<std::mutex> lock(owner_.mutex_);
    owner_.freed_.wait(lock, [this] { return owner_.free_ > 0; });
    --owner_.free_;
  }
  ~Slot() {
    {
      std::lock_guard<std::mutex> lock(owner_.mutex_);
      ++owner_.free_;
    }
    owner_.freed_.notify_one();
  }

private:
  PasswordHasher& owner_;
};

PasswordHasher::PasswordHasher(PasswordStrength strength, int concurrent)
    : free_(concurrent < 1 ? 1 : concurrent) {
  if (strength == PasswordStrength::Minimum) {
    opsLimit_ = crypto_pwhash_OPSLIMIT_MIN;
    memLimit_ = crypto_pwhash_MEMLIMIT_MIN;
  } else {
    opsLimit_ = crypto_pwhash_OPSLIMIT_INTERACTIVE;
    memLimit_ = crypto_pwhash_MEMLIMIT_INTERACTIVE;
  }
}

std::string PasswordHasher::hash(const std::string& password) {
  Slot slot(*this);
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, password.data(), password.size(), opsLimit_, memLimit_,
                            crypto_pwhash_ALG_ARGON2ID13) != 0)
    return std::string();
  return std::string(out);
}

bool PasswordHasher::verify(const std::string& storedHash, const std::string& password) {
  if (storedHash.empty() || storedHash.size() >= crypto_pwhash_STRBYTES)
    return false;
  Slot slot(*this);
  return crypto_pwhash_str_verify(storedHash.c_str(), password.data(), password.size()) == 0;
}

}  // namespace tavsvc
