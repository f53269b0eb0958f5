// Credentials the service issues and the message server and the MCU check: a
// signed statement "user U may use room (or channel) R with role C until T".
// The three roles share one secret (the launcher's internal token, or the
// --internal-token each program is given); a server that has none believes no
// credential at all.
//
// Text form, at most kMaxCredentialLength characters, printable ASCII only:
//   "1.<user>.<room>.<roleCode>.<expiresMs>.<64 hex digits of HMAC-SHA-256>"
// The MAC covers everything before its dot, under a key derived from the secret.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavsrv {

constexpr size_t kMaxCredentialLength = 160;
// The one-login channel of the message server, named in the credential handed out at login.
constexpr uint32_t kLoginChannel = 100000;
// The role of an assistant's room credential.
constexpr int kAssistantRoleCode = 6;

struct Credential {
  uint32_t user = 0;
  uint32_t room = 0;  // a room id, or kLoginChannel
  // 1 teacher, 2 student, 3 parent, 4 auditor, 5 inspector, 6 assistant (a member the owner
  // made assistant of the room, whatever its membership role); 0 unknown.
  int roleCode = 0;
  int64_t expiresMs = 0;  // wall-clock milliseconds since the epoch
};

// Empty when secret is empty (nothing can be issued without one).
std::string signCredential(const std::string& secret, const Credential& credential);

// The credential when text is well formed, signed under secret and not expired at nowMs.
// Never believes anything when secret is empty.
std::optional<Credential> verifyCredential(const std::string& secret, std::string_view text,
                                           int64_t nowMs);

}  // namespace tavsrv
