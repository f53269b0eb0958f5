#include "tavsrv/Credential.h"

#include <sodium.h>

#include <charconv>
#include <vector>

namespace tavsrv {
namespace {

constexpr char kVersion[] = "1";
constexpr size_t kMacHexLength = 2 * crypto_auth_hmacsha256_BYTES;

// A key of its own for credentials, so the secret's other uses (the internal
// header) never see it compared or derived the same way.
void deriveKey(const std::string& secret, unsigned char key[crypto_auth_hmacsha256_KEYBYTES]) {
  static const char context[] = "tav credential key v1";
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, crypto_auth_hmacsha256_KEYBYTES);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(context),
                            sizeof context - 1);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(secret.data()),
                            secret.size());
  crypto_generichash_final(&state, key, crypto_auth_hmacsha256_KEYBYTES);
}

std::string macHex(const std::string& secret, std::string_view signedPart) {
  unsigned char key[crypto_auth_hmacsha256_KEYBYTES];
  deriveKey(secret, key);
  unsigned char mac[crypto_auth_hmacsha256_BYTES];
  crypto_auth_hmacsha256(mac, reinterpret_cast<const unsigned char*>(signedPart.data()),
                         signedPart.size(), key);
  sodium_memzero(key, sizeof key);
  char hex[kMacHexLength + 1];
  sodium_bin2hex(hex, sizeof hex, mac, sizeof mac);
  return std::string(hex, kMacHexLength);
}

// Splits "a.b.c" into its fields; false when there are not exactly count of them.
bool splitFields(std::string_view text, std::string_view* fields, size_t count) {
  size_t n = 0;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (n == count)
        return false;
      fields[n++] = text.substr(start, i - start);
      start = i + 1;
    }
  }
  return n == count;
}

// Decimal digits only, no sign, no leading zeros (one canonical text per value).
template <typename T>
bool parseNumber(std::string_view text, T* value) {
  if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0'))
    return false;
  for (char c : text)
    if (c < '0' || c > '9')
      return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), *value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

}  // namespace

std::string signCredential(const std::string& secret, const Credential& credential) {
  if (secret.empty() || credential.roleCode < 0 || credential.expiresMs < 0)
    return {};
  const std::string signedPart = std::string(kVersion) + "." + std::to_string(credential.user) +
                                 "." + std::to_string(credential.room) + "." +
                                 std::to_string(credential.roleCode) + "." +
                                 std::to_string(credential.expiresMs);
  return signedPart + "." + macHex(secret, signedPart);
}

std::optional<Credential> verifyCredential(const std::string& secret, std::string_view text,
                                           int64_t nowMs) {
  if (secret.empty() || text.empty() || text.size() > kMaxCredentialLength)
    return std::nullopt;
  std::string_view fields[6];
  if (!splitFields(text, fields, 6) || fields[0] != kVersion || fields[5].size() != kMacHexLength)
    return std::nullopt;
  const std::string_view signedPart = text.substr(0, text.size() - kMacHexLength - 1);
  const std::string expected = macHex(secret, signedPart);
  if (sodium_memcmp(expected.data(), fields[5].data(), kMacHexLength) != 0)
    return std::nullopt;
  Credential credential;
  if (!parseNumber(fields[1], &credential.user) || !parseNumber(fields[2], &credential.room) ||
      !parseNumber(fields[3], &credential.roleCode) ||
      !parseNumber(fields[4], &credential.expiresMs))
    return std::nullopt;
  if (credential.expiresMs <= nowMs)
    return std::nullopt;
  return credential;
}

}  // namespace tavsrv
