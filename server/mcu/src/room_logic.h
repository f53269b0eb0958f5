// One room's state and rules, without sockets: each call takes what a session sent (or that
// it ended) and fills an outbox with what to send to whom. The room's endpoint runs it under
// its lock, so the calls are serial.
//
// Members are the sessions whose login (message 0) was accepted; other sessions only get
// their keep-alives answered. A login reaches the logic through login(), once the room's
// endpoint has checked its credential; message 0 itself is not taken from on_message. Floors: the
// class (who started it), the share floor (the one sharer, the applicants and the approved
// teaching-tool holder) and the tag floor (who may write on the board). Taking a floor held by
// someone else takes it over; every change is announced to all members, the one who asked included,
// and acknowledged to the asker.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "mcu/media_relay.h"
#include "mcu/server.h"
#include "outbox.h"

namespace mcu {

// A login the room's endpoint let through: the credential named this user and this room.
struct login_request {
  uint32_t mask = 0;
  uint32_t user_id = 0;
  // IPv4 address (host order) of the member's control session; its media ports take
  // datagrams from this address only.
  uint32_t address = 0;
  // The role its credential names (tavsrv::Credential::roleCode).
  int role = 0;
  // The session's media token (random): its media registrations must carry it, and it goes to
  // the member with every port it listens on (21).
  pavo_wire::media_token token;
  // A class recorder (user_id has pavo_wire::recorder_id_bit): a hidden listener.
  bool recorder = false;
};

// Recorders a room lets in at once (one per member of the teacher side is the usual case).
constexpr std::size_t max_recorders = 4;

// The teacher side of a room, who runs the class, opens and closes other members' media and
// grants and takes back floors: the teacher (1) and its assistants (6). Any other role
// (student, parent, auditor, inspector, unknown) acts on its own media and floors only.
inline bool teacher_side(int role) {
  return role == 1 || role == 6;
}

class room_logic {
public:
  room_logic(uint32_t room_id, media_relay& relay, std::size_t max_members)
      : room_id_(room_id), relay_(relay), max_members_(max_members) {}
  ~room_logic();  // gives back every media port
  room_logic(const room_logic&) = delete;
  room_logic& operator=(const room_logic&) = delete;

  // One whole message from a session. False when it was dropped (malformed, unknown, a
  // login, from a session that is not logged in, or for a target that is not here).
  bool on_message(session_id from, uint32_t type, const uint8_t* payload, unsigned length,
                  outbox& out);
  // A checked login: the session becomes a member, replacing an older session of the same
  // user. False when the session is a member already or the room is full (70, closed).
  bool login(session_id from, const login_request& request, outbox& out);
  // The session ended (it left, went silent or was closed): its member leaves.
  void on_closed(session_id session, outbox& out);
  // Message 8 to every member; their answers refresh the device masks.
  void probe_all(outbox& out);
  // Message 70 to a member and the end of its session. False when not here.
  bool disconnect(uint32_t user_id, outbox& out);

  // Every session logged in, recorders included (a room with a recorder is not empty).
  std::size_t member_count() const { return members_.size(); }
  // The user ids of every session logged in, recorders included.
  std::vector<uint32_t> user_ids() const;
  bool is_member(session_id session) const { return members_.count(session) > 0; }
  // Messages refused for the sender's role since the last call.
  uint64_t take_refused() { return std::exchange(refused_, 0); }
  // The session of a logged-in member; false when not here.
  bool session_of(uint32_t user_id, session_id* out) const;
  RoomInfo info() const;

private:
  struct member {
    session_id session = 0;
    uint32_t user_id = 0;
    uint32_t mask = 0;
    uint32_t address = 0;  // of the control session, IPv4 host order
    pavo_wire::media_token token;
    bool teacher_side = false;
    bool recorder = false;                   // hidden: in no member list, not counted
    bool refusal_logged = false;             // a refused action is logged once per session
    std::map<uint32_t, uint16_t> published;  // kind -> port
    std::map<std::pair<uint32_t, uint32_t>, uint16_t> subscribed;  // (publisher, kind) -> port
    uint16_t audio_port = 0;  // the mixed room audio this member listens to
  };

  // Membership (room_logic.cpp).
  void remove_member(session_id session, outbox& out);
  member* find_user(uint32_t user_id);
  bytes user_pairs() const;  // {mask, id} of every member but the recorders, in login order
  // What a recorder may send: it listens, asks and answers one to one.
  static bool recorder_may_send(uint32_t type);
  void to_all(outbox& out, uint32_t type, const bytes& payload) const;
  void to_others(outbox& out, const member& except, uint32_t type, const bytes& payload) const;
  bool member_message(member& m, uint32_t type, const uint8_t* p, unsigned length, outbox& out);
  // False, counted and (once per session) logged, when the member may not do `what`.
  bool permitted(member& m, bool allowed, uint32_t type, const char* what);

  // Media (room_media.cpp).
  bool publish(uint32_t user_id, uint32_t kind, outbox& out);
  bool close_stream(const member& from, uint32_t user_id, uint32_t kind, outbox& out);
  void unpublish(member& publisher, uint32_t kind, bool tell_publisher, bool tell_others,
                 outbox& out);
  bool add_listener(member& listener, uint32_t publisher_id, uint32_t kind, outbox& out);
  bool remove_listener(member& listener, uint32_t publisher_id, uint32_t kind);
  void release_media(member& m, outbox& out);
  void stop_all_media(outbox& out);
  bool has_audio_publisher() const;

  // Floors (room_floors.cpp).
  bool floor_message(member& m, uint32_t type, const uint8_t* p, unsigned length, outbox& out);
  void release_floors(const member& m, outbox& out);
  void reset_floors(outbox& out);
  bytes id_list(std::optional<uint32_t> id) const;

  // Peer messages (room_peers.cpp).
  bool route_peer(const member& from, uint32_t type, const uint8_t* p, unsigned length,
                  outbox& out);

  const uint32_t room_id_;
  media_relay& relay_;
  const std::size_t max_members_;
  std::map<session_id, member> members_;
  std::vector<session_id> order_;      // login order, recorders not included
  std::vector<session_id> recorders_;  // hidden listeners, told everything the members are
  uint32_t probe_sequence_ = 0;
  uint64_t refused_ = 0;

  bool class_running_ = false;
  uint32_t class_starter_ = 0;
  std::optional<uint32_t> sharer_;
  std::optional<uint32_t> tool_holder_;
  std::set<uint32_t> applicants_;
  std::optional<uint32_t> tag_holder_;
};

}  // namespace mcu
