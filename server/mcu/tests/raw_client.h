// A scripted client on a real kcp_client: joins rooms, logs in, sends chosen bytes and waits
// for chosen messages, keeping its session alive as libpavo does. The server under test is
// given testsupport::kTestSecret; the credentials shown are signed with it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestCredentials.h"
#include "control_wire.h"
#include "eventually.h"
#include "libnetra/kcp_client.h"

namespace mcu_test {

using bytes = std::vector<uint8_t>;

// Roles in the credentials (tavsrv/Credential.h). Members are the teacher unless a test says
// otherwise.
constexpr int kTeacherRole = 1, kStudentRole = 2, kAuditorRole = 4, kAssistantRole = 6;

bytes be32(std::initializer_list<uint32_t> words);
bytes operator+(bytes a, const bytes& b);
uint32_t word(const bytes& data, std::size_t at);
uint16_t half(const bytes& data, std::size_t at);
// The media token at the end of a message 21 (all zero when it is too short).
pavo_wire::media_token token_of(const bytes& media_port);
// A listener's registration datagram: its id and its session's token.
bytes registration(uint32_t user, const pavo_wire::media_token& token);

struct message {
  uint32_t type = 0;
  bytes payload;
};

class raw_client {
public:
  // Connected to 127.0.0.1:port, or not (see connected()).
  explicit raw_client(uint16_t port, unsigned recv_timeout_ms = 300);
  bool connected() const { return connected_; }

  int send(uint32_t type, const bytes& payload = {});
  // The next message of `type`; others that arrive meanwhile are kept for later. Answers
  // pings and sends a keep-alive on every receive time-out, as libpavo does.
  std::optional<message> expect(uint32_t type,
                                std::chrono::milliseconds limit = testsupport::wait_limit());
  // The next message of any of these types, the same way.
  std::optional<message> expect_any(std::initializer_list<uint32_t> types,
                                    std::chrono::milliseconds limit = testsupport::wait_limit());
  // Ends the connection without a leave message (as a crashed client would).
  void drop() { client_.reset(); }

private:
  std::unique_ptr<kcp_client> client_;
  bool connected_ = false;
  std::deque<message> kept_;
};

// The tail of a join or login: u16 length, then the credential text.
bytes credential_tail(const std::string& credential);
// {mask, user} and a credential of `user` for `room` with `role` signed with the test secret.
bytes login_payload(uint32_t mask, uint32_t user, uint32_t room, int role = kTeacherRole);

// Asks the main port for the room's port, showing `credential` (by default one for the room
// signed with the test secret); 0 on failure or refusal.
uint16_t join_room(uint16_t main_port, uint32_t room_id);
uint16_t join_room(uint16_t main_port, uint32_t room_id, const std::string& credential);

// A member of `room`: joined, logged in as `user` with `mask` and a credential with `role`
// signed with the test secret, the login answer taken.
std::unique_ptr<raw_client> member(uint16_t main_port, uint32_t room, uint32_t user,
                                   uint32_t mask = 3, int role = kTeacherRole);

}  // namespace mcu_test
