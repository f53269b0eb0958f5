// The connection thread: room join on the main port, login on the room port, then receive
// and dispatch until the connection ends.
#include <cstring>
#include <vector>

#include "control_wire.h"
#include "device_query.h"
#include "libpavo_impl.h"
#include "wirebytes/byte_order.h"
#include "woblog/woblog.h"

using namespace pavo;
using namespace pavo_wire;

namespace {
// Time-outs in a row after which the MCU counts as gone.
constexpr int max_timeouts = 3;
}  // namespace

kcp_client* libpavo::connect_to(uint16_t port) {
  kcp_client* client = kcp_client::create(mcu_ip_.c_str(), port);
  if (!client) {
    qn::log("no connection object for %s:%u", mcu_ip_.c_str(), unsigned{port});
    return nullptr;
  }
  client->set_recv_timeout(recv_timeout_ms_);
  if (!link_.attach(client))
    return nullptr;  // shutting down
  if (client->connect() < 0) {
    qn::log("cannot connect to the MCU at %s:%u", mcu_ip_.c_str(), unsigned{port});
    return nullptr;
  }
  return client;
}

std::vector<uint8_t> libpavo::with_credential(std::vector<uint8_t> words) const {
  if (credential_.empty())
    return words;
  const std::size_t at = words.size();
  words.resize(at + 2 + credential_.size());
  wirebytes::put_be16(words.data() + at, static_cast<uint16_t>(credential_.size()));
  std::memcpy(words.data() + at + 2, credential_.data(), credential_.size());
  return words;
}

bool libpavo::join_room(uint16_t* room_port) {
  std::vector<uint8_t> payload(4);
  wirebytes::put_be32(payload.data(), room_id_);
  payload = with_credential(std::move(payload));
  if (send_msg(msg_join_room, payload.data(), static_cast<unsigned>(payload.size())) != 0)
    return false;
  std::vector<uint8_t> reply(max_join_reply_payload);
  kcp_header_t header{};
  bool timed_out = false;
  const int size =
      link_.receiver()->recv(&header, reply.data(), max_join_reply_payload, &timed_out);
  if (size < 0) {
    qn::log("no answer to the room join (%s)", timed_out ? "time-out" : "error");
    return false;
  }
  if (size != header.length + 8 || header.type != msg_room_port || header.length < 2) {
    qn::log("room join answered with type %u, %u bytes", header.type, unsigned{header.length});
    return false;
  }
  *room_port = wirebytes::get_be16(reply.data());
  if (*room_port == 0) {
    qn::log("the MCU refused the join of room %u (%s)", room_id_,
            credential_.empty() ? "no credential" : "credential not accepted, or no room free");
    return false;
  }
  return true;
}

void libpavo::run() {
  if (!running_)
    return;
  if (!connect_to(port_)) {
    disconnect_procedure();
    return;
  }
  uint16_t room_port = 0;
  const bool joined = join_room(&room_port);
  link_.release();
  if (!joined) {
    disconnect_procedure();
    return;
  }
  if (!running_)
    return;
  if (!connect_to(room_port)) {
    disconnect_procedure();
    return;
  }
  std::vector<uint8_t> login(8);
  wirebytes::put_be32(login.data(), pavo::device_mask());
  wirebytes::put_be32(login.data() + 4, user_id_);
  login = with_credential(std::move(login));
  send_msg(msg_login, login.data(), static_cast<unsigned>(login.size()));
  qn::log("joined room %u on port %u, logging in", room_id_, unsigned{room_port});
  receive_loop();
  if (running_)
    disconnect_procedure();
}

void libpavo::receive_loop() {
  kcp_client* client = link_.receiver();
  std::vector<uint8_t> buffer(max_recv_payload);
  int timeouts = 0;
  while (running_) {
    kcp_header_t header{};
    bool timed_out = false;
    const int size = client->recv(&header, buffer.data(), max_recv_payload, &timed_out);
    if (size < 0) {
      if (!timed_out || !running_)
        break;
      send_msg(msg_keep_alive, nullptr, 0);
      if (++timeouts >= max_timeouts) {
        qn::log("the MCU stayed silent %d times in a row", timeouts);
        break;
      }
      continue;
    }
    timeouts = 0;
    if (size != header.length + 8)
      continue;  // the transport promises whole messages; never trust a length twice
    dispatch_.dispatch(header.type, buffer.data(), header.length);
  }
}

void libpavo::disconnect_procedure() {
  if (!running_.exchange(false))
    return;  // teardown under way, or done already
  link_.close();
  connected_ = false;
  stop_all_media();
  {
    std::lock_guard<std::mutex> lock(media_mutex_);
    local_.reset();
  }
  qn::log("disconnected from the MCU");
  observer_->on_media_event(pavo_event_disconnected, nullptr);
}
