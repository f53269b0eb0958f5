#include "raw_client.h"

#include <algorithm>

#include "wirebytes/byte_writer.h"

namespace mcu_test {

bytes be32(std::initializer_list<uint32_t> words) {
  bytes out;
  wirebytes::byte_writer writer(out);
  for (uint32_t w : words)
    writer.u32(w);
  return out;
}

bytes operator+(bytes a, const bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

uint32_t word(const bytes& data, std::size_t at) {
  if (data.size() < at + 4)
    return 0xFFFFFFFFu;
  return wirebytes::get_be32(data.data() + at);
}

uint16_t half(const bytes& data, std::size_t at) {
  if (data.size() < at + 2)
    return 0;
  return wirebytes::get_be16(data.data() + at);
}

pavo_wire::media_token token_of(const bytes& media_port) {
  pavo_wire::media_token token;
  if (media_port.size() == pavo_wire::media_port_payload)
    std::copy(media_port.begin() + 10, media_port.end(), token.bytes);
  return token;
}

bytes registration(uint32_t user, const pavo_wire::media_token& token) {
  uint8_t out[pavo_wire::media_registration_size];
  pavo_wire::write_media_registration(out, user, token);
  return bytes(out, out + sizeof out);
}

raw_client::raw_client(uint16_t port, unsigned recv_timeout_ms)
    : client_(kcp_client::create("127.0.0.1", port)) {
  if (!client_)
    return;
  // The handshake waits as long as a loaded machine may need; receiving keeps the short
  // time-out, which paces the keep-alives.
  const auto patience = static_cast<unsigned>(testsupport::wait_limit().count());
  client_->set_recv_timeout(patience);
  connected_ = client_->connect() >= 0;
  client_->set_recv_timeout(recv_timeout_ms);
}

int raw_client::send(uint32_t type, const bytes& payload) {
  if (!client_)
    return -1;
  kcp_header_t header{0, static_cast<uint16_t>(payload.size()), type};
  return client_->send(&header, payload.data(), static_cast<unsigned>(payload.size()));
}

std::optional<message> raw_client::expect(uint32_t type, std::chrono::milliseconds limit) {
  return expect_any({type}, limit);
}

std::optional<message> raw_client::expect_any(std::initializer_list<uint32_t> types,
                                              std::chrono::milliseconds limit) {
  const auto wanted = [&](uint32_t type) {
    return std::find(types.begin(), types.end(), type) != types.end();
  };
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (wanted(it->type)) {
      message found = std::move(*it);
      kept_.erase(it);
      return found;
    }
  }
  if (!client_)
    return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bytes buffer(65535);
  while (std::chrono::steady_clock::now() < deadline) {
    kcp_header_t header{};
    bool timed_out = false;
    const int size = client_->recv(&header, buffer.data(), 65535, &timed_out);
    if (size < 0) {
      if (!timed_out)
        return std::nullopt;
      send(100000);
      continue;
    }
    message received{header.type, bytes(buffer.begin(), buffer.begin() + header.length)};
    if (header.type == 100002 && !wanted(100002)) {
      send(100003);
      continue;
    }
    if (wanted(header.type))
      return received;
    kept_.push_back(std::move(received));
  }
  return std::nullopt;
}

bytes credential_tail(const std::string& credential) {
  bytes out;
  wirebytes::byte_writer(out).u16(static_cast<uint16_t>(credential.size()));
  out.insert(out.end(), credential.begin(), credential.end());
  return out;
}

bytes login_payload(uint32_t mask, uint32_t user, uint32_t room, int role) {
  return be32({mask, user}) + credential_tail(testsupport::testCredential(user, room, role));
}

uint16_t join_room(uint16_t main_port, uint32_t room_id) {
  return join_room(main_port, room_id, testsupport::testCredential(1, room_id));
}

uint16_t join_room(uint16_t main_port, uint32_t room_id, const std::string& credential) {
  raw_client join(main_port);
  if (!join.connected() || join.send(30, be32({room_id}) + credential_tail(credential)) != 0)
    return 0;
  auto reply = join.expect(31);
  return reply ? half(reply->payload, 0) : 0;
}

std::unique_ptr<raw_client> member(uint16_t main_port, uint32_t room, uint32_t user, uint32_t mask,
                                   int role) {
  const uint16_t port = join_room(main_port, room);
  if (!port)
    return nullptr;
  auto client = std::make_unique<raw_client>(port);
  if (!client->connected() || client->send(0, login_payload(mask, user, room, role)) != 0 ||
      !client->expect(0))
    return nullptr;
  return client;
}

}  // namespace mcu_test
