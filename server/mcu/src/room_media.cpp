// Media: who publishes which kind on which port, who listens, and the messages that open
// and close streams (4, 5, 9-12, 19-21).
#include <string>

#include "room_logic.h"
#include "tavsrv/Log.h"
#include "wirebytes/byte_writer.h"

namespace mcu {

using namespace pavo_wire;

namespace {

bool valid_kind(uint32_t kind) {
  return kind == 1 || kind == 2 || kind == 4 || kind == 32;
}

bytes port_message(uint32_t first, uint32_t kind, uint16_t port) {
  bytes payload = words({first, kind});
  wirebytes::byte_writer(payload).u16(port);
  return payload;
}

// 21: the port, and the token the listener's registrations there must carry.
bytes listener_port_message(uint32_t publisher, uint32_t kind, uint16_t port,
                            const pavo_wire::media_token& token) {
  bytes payload = port_message(publisher, kind, port);
  wirebytes::byte_writer(payload).bytes(token.bytes, media_token_size);
  return payload;
}

}  // namespace

// Message 4 from anyone: the named member opens its stream of `kind` (the teacher may open
// a student's camera). A stream already open gets its port again, so a sender that failed
// to start can try once more.
bool room_logic::publish(uint32_t user_id, uint32_t kind, outbox& out) {
  member* publisher = find_user(user_id);
  if (!publisher || !valid_kind(kind))
    return false;
  auto existing = publisher->published.find(kind);
  if (existing != publisher->published.end()) {
    out.send(publisher->session, msg_open_sender, port_message(0, kind, existing->second));
    return true;
  }
  const uint16_t port = relay_.open_publisher(room_id_, user_id, kind, publisher->address);
  if (port == 0) {
    tavsrv::logWarn("mcu: room " + std::to_string(room_id_) + ": no port for the stream of " +
                    std::to_string(user_id));
    return false;
  }
  publisher->published[kind] = port;
  out.send(publisher->session, msg_open_sender, port_message(0, kind, port));
  to_others(out, *publisher, msg_media_published, words({user_id, kind}));
  return true;
}

// Message 5: the named member's stream closes. The publisher is told (10) unless it closed
// the stream itself; the others hear 12.
bool room_logic::close_stream(const member& from, uint32_t user_id, uint32_t kind, outbox& out) {
  member* publisher = find_user(user_id);
  if (!publisher || !publisher->published.count(kind))
    return false;
  unpublish(*publisher, kind, publisher->session != from.session, true, out);
  return true;
}

void room_logic::unpublish(member& publisher, uint32_t kind, bool tell_publisher, bool tell_others,
                           outbox& out) {
  if (!publisher.published.erase(kind))
    return;
  relay_.close_publisher(room_id_, publisher.user_id, kind);
  for (auto& entry : members_) {
    member& listener = entry.second;
    if (listener.subscribed.erase({publisher.user_id, kind}))
      relay_.close_subscriber(room_id_, listener.user_id, publisher.user_id, kind);
  }
  if (kind == 2 && !has_audio_publisher()) {
    // Nobody left to hear: the listeners drop their audio receiver and subscribe again
    // when someone publishes.
    for (auto& entry : members_) {
      if (entry.second.audio_port) {
        relay_.close_subscriber(room_id_, entry.second.user_id, 0, 2);
        entry.second.audio_port = 0;
      }
    }
  }
  if (tell_publisher)
    out.send(publisher.session, msg_close_sender, words({publisher.user_id, kind}));
  if (tell_others)
    to_others(out, publisher, msg_media_unpublished, words({publisher.user_id, kind}));
}

// Message 19. Audio: the room's mixed stream, one port per listener whoever is named; video:
// one port per (publisher, kind).
bool room_logic::add_listener(member& listener, uint32_t publisher_id, uint32_t kind, outbox& out) {
  member* publisher = find_user(publisher_id);
  if (!publisher || !publisher->published.count(kind))
    return false;
  if (kind == 2) {
    if (!listener.audio_port) {
      listener.audio_port = relay_.open_subscriber(room_id_, listener.user_id, 0, 2,
                                                   listener.address, listener.token);
      if (!listener.audio_port)
        return false;
    }
    out.send(listener.session, msg_media_port,
             listener_port_message(publisher_id, 2, listener.audio_port, listener.token));
    return true;
  }
  if (publisher->session == listener.session)
    return false;
  uint16_t& port = listener.subscribed[{publisher_id, kind}];
  if (!port)
    port = relay_.open_subscriber(room_id_, listener.user_id, publisher_id, kind, listener.address,
                                  listener.token);
  if (!port) {
    listener.subscribed.erase({publisher_id, kind});
    return false;
  }
  out.send(listener.session, msg_media_port,
           listener_port_message(publisher_id, kind, port, listener.token));
  return true;
}

bool room_logic::remove_listener(member& listener, uint32_t publisher_id, uint32_t kind) {
  if (!listener.subscribed.erase({publisher_id, kind}))
    return false;
  relay_.close_subscriber(room_id_, listener.user_id, publisher_id, kind);
  return true;
}

// A leaving member's streams and subscriptions. The others learn from its leave message.
void room_logic::release_media(member& m, outbox& out) {
  while (!m.published.empty())
    unpublish(m, m.published.begin()->first, false, false, out);
  for (const auto& stream : m.subscribed)
    relay_.close_subscriber(room_id_, m.user_id, stream.first.first, stream.first.second);
  m.subscribed.clear();
  if (m.audio_port) {
    relay_.close_subscriber(room_id_, m.user_id, 0, 2);
    m.audio_port = 0;
  }
}

// The class stopped: every stream closes and everybody hears of it.
void room_logic::stop_all_media(outbox& out) {
  for (session_id s : order_) {
    member& m = members_.at(s);
    while (!m.published.empty())
      unpublish(m, m.published.begin()->first, true, true, out);
  }
}

bool room_logic::has_audio_publisher() const {
  for (const auto& entry : members_)
    if (entry.second.published.count(2))
      return true;
  return false;
}

}  // namespace mcu
