#include "room.h"

#include <sodium.h>

#include "tavsrv/Log.h"
#include "wirebytes/byte_reader.h"

namespace mcu {

using namespace pavo_wire;

room::room(uint32_t id, const Config& config, media_relay& relay, room_counters& counters,
           const tavsrv::RemovalList& removals)
    : id_(id),
      config_(config),
      counters_(counters),
      removals_(removals),
      logic_(id, relay, config.max_members),
      pending_(pending_limits{config.max_pending_per_address, config.max_pending_per_endpoint,
                              config.login_timeout_ms}) {}

room::~room() {
  stop();
}

bool room::start(std::string* error) {
  netra::kcp_server_options options;
  options.ip = config_.listen_host;
  options.port = 0;
  options.idle_timeout_ms = config_.session_idle_ms;
  netra::kcp_server::handlers handlers;
  handlers.on_accept = [this](uint64_t session, const netra::kcp_peer_address& address) {
    return on_accept(session, address);
  };
  handlers.on_message = [this](uint64_t session, const kcp_header_t& header, const uint8_t* payload,
                               unsigned length) { on_message(session, header, payload, length); };
  handlers.on_close = [this](uint64_t session, netra::kcp_close_reason) { on_close(session); };
  handlers.on_log = [this](const std::string& line) {
    tavsrv::logDebug("mcu: room " + std::to_string(id_) + ": " + line);
  };
  server_ = std::make_unique<netra::kcp_server>(options, handlers);
  if (server_->start() != 0) {
    *error = "cannot open a port for room " + std::to_string(id_);
    server_.reset();
    return false;
  }
  port_ = server_->port();
  return true;
}

void room::stop() {
  if (server_)
    server_->stop();
}

bool room::on_accept(uint64_t session, const netra::kcp_peer_address& address) {
  if (pending_.admit(session, address.ip, address.port, steady_ms()))
    return true;
  if (worth_a_line(++counters_.refused_sessions))
    tavsrv::logWarn("mcu: room " + std::to_string(id_) + ": refused a session from " + address.ip +
                    ":" + std::to_string(address.port) + ", too many not logged in from there (" +
                    std::to_string(counters_.refused_sessions) + " refused so far)");
  return false;
}

void room::close_overdue(uint64_t now_ms) {
  for (uint64_t session : pending_.take_overdue(now_ms)) {
    ++counters_.timed_out;
    if (config_.verbose)
      tavsrv::logDebug("mcu: room " + std::to_string(id_) + ": session " + std::to_string(session) +
                       " did not log in in time");
    server_->close(session);
  }
}

bool room::login(session_id session, const uint8_t* payload, unsigned length, outbox& out) {
  if (logic_.is_member(session))
    return false;
  wirebytes::byte_reader in(payload, length);
  login_request request;
  request.mask = in.u32();
  request.user_id = in.u32();
  if (!in.ok())
    return false;
  const auto text = read_credential(in);
  // A recorder logs in with its user's credential, which must be the teacher side's.
  request.recorder = (request.user_id & recorder_id_bit) != 0;
  const uint32_t credited = request.user_id & ~recorder_id_bit;
  auto credential = check_credential(config_.internal_token, text, id_, credited);
  if (credential && request.recorder && !teacher_side(credential->roleCode)) {
    tavsrv::logWarn("mcu: room " + std::to_string(id_) + ": refused a recorder of user " +
                    std::to_string(credited) + ": not of the teacher side");
    credential.reset();
  }
  if (!credential) {
    ++counters_.refused_logins;
    tavsrv::logWarn("mcu: room " + std::to_string(id_) + ": refused the login of user " +
                    std::to_string(request.user_id) +
                    (text
                         ? ": the credential is not valid for this user and room (signature, user, "
                           "room or expiry)"
                         : ": no credential"));
    out.send(session, msg_kick);
    out.closes.push_back(session);
    return false;
  }
  if (removals_.removed(id_, credited, tavsrv::steadyNowMs())) {
    // The credential is still valid, but the service removed the member for a while.
    ++counters_.refused_logins;
    tavsrv::logWarn("mcu: room " + std::to_string(id_) + ": refused the login of user " +
                    std::to_string(request.user_id) + ": removed from the room");
    out.send(session, msg_kick);
    out.closes.push_back(session);
    return false;
  }
  netra::kcp_peer_address peer;
  if (!server_->peer(session, &peer))
    return false;
  request.address = ipv4_number(peer.ip);
  request.role = credential->roleCode;
  randombytes_buf(request.token.bytes, sizeof request.token.bytes);
  if (!logic_.login(session, request, out))
    return false;
  pending_.settle(session);
  return true;
}

void room::on_message(uint64_t session, const kcp_header_t& header, const uint8_t* payload,
                      unsigned length) {
  ++counters_.messages;
  std::lock_guard<std::mutex> lock(mutex_);
  outbox out;
  const bool done = header.type == msg_login
                        ? login(session, payload, length, out)
                        : logic_.on_message(session, header.type, payload, length, out);
  if (!done) {
    ++counters_.dropped;
    if (config_.verbose)
      tavsrv::logDebug("mcu: room " + std::to_string(id_) + ": dropped message " +
                       std::to_string(header.type) + " of " + std::to_string(length) + " bytes");
  } else if (header.type == msg_login) {
    ++counters_.logins;
  }
  counters_.refused_actions += logic_.take_refused();
  apply(out);
}

void room::on_close(uint64_t session) {
  pending_.settle(session);
  std::lock_guard<std::mutex> lock(mutex_);
  outbox out;
  logic_.on_closed(session, out);
  apply(out);
}

void room::apply(outbox& out) {
  for (const outgoing& message : out.sends) {
    kcp_header_t header{0, static_cast<uint16_t>(message.payload.size()), message.type};
    if (message.payload.size() > kcp_max_payload ||
        server_->send(message.to, header, message.payload.data(),
                      static_cast<unsigned>(message.payload.size())) != 0) {
      if (config_.verbose)
        tavsrv::logDebug("mcu: room " + std::to_string(id_) + ": message " +
                         std::to_string(message.type) + " not sent");
    }
  }
  for (session_id session : out.closes)
    server_->close(session);
}

uint64_t room::empty_for(uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (logic_.member_count() > 0) {
    last_used_ms_ = now_ms;
    return 0;
  }
  return now_ms - last_used_ms_;
}

void room::joined(uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  last_used_ms_ = now_ms;
}

void room::probe() {
  std::lock_guard<std::mutex> lock(mutex_);
  outbox out;
  logic_.probe_all(out);
  apply(out);
}

bool room::disconnect(uint32_t user_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  outbox out;
  const bool found = logic_.disconnect(user_id, out);
  apply(out);
  return found;
}

bool room::send_to_member(uint32_t user_id, uint32_t type, const uint8_t* payload,
                          unsigned length) {
  std::lock_guard<std::mutex> lock(mutex_);
  session_id session = 0;
  if (!server_ || length > kcp_max_payload || !logic_.session_of(user_id, &session))
    return false;
  kcp_header_t header{0, static_cast<uint16_t>(length), type};
  return server_->send(session, header, payload, length) == 0;
}

void room::farewell() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!server_)
    return;
  outbox out;
  for (const uint32_t user : logic_.user_ids())
    logic_.disconnect(user, out);
  apply(out);
}

bool room::drained() const {
  return !server_ || server_->session_count() == 0;
}

RoomInfo room::info() {
  std::lock_guard<std::mutex> lock(mutex_);
  RoomInfo info = logic_.info();
  info.port = port_;
  return info;
}

std::size_t room::member_count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return logic_.member_count();
}

}  // namespace mcu
