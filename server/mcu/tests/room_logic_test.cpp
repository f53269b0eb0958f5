// A room's rules without sockets: what each message makes the room send to whom.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "room_logic.h"
#include "wirebytes/byte_order.h"
#include "wirebytes/byte_writer.h"

namespace mcu {
namespace {

bytes operator+(bytes a, const bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class fake_relay : public media_relay {
public:
  uint16_t open_publisher(uint32_t, uint32_t user, uint32_t kind, uint32_t source) override {
    sources[{false, 0, user, kind}] = source;
    return open({false, 0, user, kind});
  }
  void close_publisher(uint32_t, uint32_t user, uint32_t kind) override {
    open_.erase({false, 0, user, kind});
  }
  uint16_t open_subscriber(uint32_t, uint32_t listener, uint32_t publisher, uint32_t kind,
                           uint32_t source, const pavo_wire::media_token& token) override {
    sources[{true, listener, publisher, kind}] = source;
    tokens[{true, listener, publisher, kind}] = token;
    return open({true, listener, publisher, kind});
  }
  void close_subscriber(uint32_t, uint32_t listener, uint32_t publisher, uint32_t kind) override {
    open_.erase({true, listener, publisher, kind});
  }
  void sender_started(uint32_t, uint32_t user, uint32_t kind, uint32_t min_kbps) override {
    started.push_back({user, kind, min_kbps});
  }
  void loss_report(uint32_t, uint32_t listener, const uint8_t*, unsigned length) override {
    reports.push_back({listener, length, 0});
  }
  std::size_t ports() const { return open_.size(); }
  std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> started, reports;
  // (listening, listener, publisher, kind) -> the address the port was bound to.
  using key = std::tuple<bool, uint32_t, uint32_t, uint32_t>;
  std::map<key, uint32_t> sources;
  std::map<key, pavo_wire::media_token> tokens;

private:
  uint16_t open(const key& k) {
    auto& port = open_[k];
    if (!port)
      port = next_++;
    return port;
  }
  std::map<key, uint16_t> open_;
  uint16_t next_ = 5000;
};

class RoomLogicTest : public ::testing::Test {
protected:
  // Sessions 1, 2, 3 are users 101, 102, 103.
  static constexpr uint32_t user(session_id s) { return static_cast<uint32_t>(100 + s); }

  outbox feed(session_id from, uint32_t type, const bytes& payload = {}) {
    outbox out;
    last_ok = room.on_message(from, type, payload.empty() ? nullptr : payload.data(),
                              static_cast<unsigned>(payload.size()), out);
    return out;
  }
  // Session s logs in from 10.0.0.s as a teacher (the endpoint has checked its credential).
  outbox log_in(session_id s, uint32_t mask, uint32_t user_id) {
    outbox out;
    last_ok = room.login(s, login_request{mask, user_id, address(s), 1, token(s)}, out);
    return out;
  }
  void login(session_id s, uint32_t mask = 3) { log_in(s, mask, user(s)); }
  static constexpr uint32_t address(session_id s) { return 0x0A000000u + static_cast<uint32_t>(s); }
  // Session s's media token.
  static pavo_wire::media_token token(session_id s) {
    pavo_wire::media_token t;
    t.bytes[0] = static_cast<uint8_t>(s);
    t.bytes[15] = 0xAA;
    return t;
  }

  // The messages of `out` to session `to`, as (type, payload).
  static std::vector<std::pair<uint32_t, bytes>> to(const outbox& out, session_id s) {
    std::vector<std::pair<uint32_t, bytes>> result;
    for (const auto& m : out.sends)
      if (m.to == s)
        result.push_back({m.type, m.payload});
    return result;
  }
  static std::set<session_id> receivers(const outbox& out, uint32_t type) {
    std::set<session_id> result;
    for (const auto& m : out.sends)
      if (m.type == type)
        result.insert(m.to);
    return result;
  }
  static bytes port_payload(uint32_t first, uint32_t kind, uint16_t port) {
    bytes b = words({first, kind});
    wirebytes::byte_writer(b).u16(port);
    return b;
  }

  static constexpr uint32_t login_type = 0;
  fake_relay relay;
  room_logic room{7, relay, 3};
  bool last_ok = false;
};

TEST_F(RoomLogicTest, LoginListsEveryoneToTheNewcomerAndAnnouncesItToTheOthers) {
  login(1, 3);
  login(2, 1);
  outbox out = log_in(3, 2, 103);
  auto newcomer = to(out, 3);
  ASSERT_EQ(newcomer.size(), 2u);
  EXPECT_EQ(newcomer[0].first, 0u);
  EXPECT_EQ(newcomer[0].second, words({3, 101, 1, 102, 2, 103}));
  EXPECT_EQ(newcomer[1].first, 29u);
  EXPECT_TRUE(newcomer[1].second.empty());
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{13, words({2, 103})}}));
  EXPECT_EQ(to(out, 2).size(), 1u);
  EXPECT_EQ(room.member_count(), 3u);
  // A fourth is over the limit of 3.
  out = log_in(4, 0, 104);
  EXPECT_FALSE(last_ok);
  EXPECT_EQ(to(out, 4), (std::vector<std::pair<uint32_t, bytes>>{{70, {}}}));
  EXPECT_EQ(out.closes, (std::vector<session_id>{4}));
}

TEST_F(RoomLogicTest, NothingButKeepAliveBeforeLogin) {
  outbox out = feed(1, 32);
  EXPECT_FALSE(last_ok);
  EXPECT_TRUE(out.sends.empty());
  out = feed(1, 100000);
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{100002, {}}}));
  // A login only counts when it comes through login(), after the credential check.
  out = feed(1, login_type, words({3, 101}));
  EXPECT_FALSE(last_ok);
  EXPECT_TRUE(out.sends.empty());
  EXPECT_EQ(room.member_count(), 0u);
}

TEST_F(RoomLogicTest, SameUserLoggingInAgainReplacesTheOldSession) {
  login(1);
  login(2);
  outbox out = log_in(3, 1, 101);  // user 101 from a new session
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{70, {}}}));
  EXPECT_EQ(out.closes, (std::vector<session_id>{1}));
  auto others = to(out, 2);
  ASSERT_EQ(others.size(), 2u);
  EXPECT_EQ(others[0], (std::pair<uint32_t, bytes>{1, words({101})}));
  EXPECT_EQ(others[1], (std::pair<uint32_t, bytes>{13, words({1, 101})}));
  EXPECT_EQ(room.member_count(), 2u);
}

TEST_F(RoomLogicTest, LeavingOrLosingTheConnectionTellsTheOthers) {
  login(1);
  login(2);
  login(3);
  outbox out = feed(2, 1);
  EXPECT_EQ(out.closes, (std::vector<session_id>{2}));
  EXPECT_EQ(receivers(out, 1), (std::set<session_id>{1, 3}));
  out.sends.clear();
  room.on_closed(3, out);
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{1, words({103})}}));
  room.on_closed(3, out);  // twice: nothing more
  EXPECT_EQ(out.sends.size(), 1u);
}

TEST_F(RoomLogicTest, PeerMessagesCarryTheSenderAndAcknowledgementsGoBack) {
  login(1);
  login(2);
  login(3);
  outbox out = feed(1, 64, words({102}) + bytes{'h', 'i'});
  EXPECT_EQ(to(out, 2),
            (std::vector<std::pair<uint32_t, bytes>>{{64, words({101}) + bytes{'h', 'i'}}}));
  EXPECT_EQ(out.sends.size(), 1u);
  // The receiver's automatic answer returns to the sender, naming the receiver.
  out = feed(2, 68, words({101}) + bytes{'h', 'i'});
  EXPECT_EQ(to(out, 1),
            (std::vector<std::pair<uint32_t, bytes>>{{68, words({102}) + bytes{'h', 'i'}}}));
  out = feed(2, 73, words({101}));
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{73, words({102})}}));
  // Broadcasts reach everyone else, with the sender's real id whatever it claimed.
  out = feed(3, 65, words({999}) + bytes{'x'});
  EXPECT_EQ(receivers(out, 65), (std::set<session_id>{1, 2}));
  EXPECT_EQ(to(out, 1)[0].second, words({103}) + bytes{'x'});
  // Fragments: routed whole, within their size.
  out = feed(1, 71, words({103, 0, 2000}) + bytes(1388, 1));
  ASSERT_EQ(to(out, 3).size(), 1u);
  EXPECT_EQ(to(out, 3)[0].second.size(), 1400u);
  out = feed(1, 72, words({101, 0, 2000}) + bytes(1389, 1));  // 1401 bytes
  EXPECT_FALSE(last_ok);
  EXPECT_TRUE(out.sends.empty());
  // Unknown target, short message: dropped.
  out = feed(1, 64, words({555}) + bytes{1});
  EXPECT_FALSE(last_ok);
  feed(1, 64, bytes{1, 2, 3});
  EXPECT_FALSE(last_ok);
}

TEST_F(RoomLogicTest, ClassStartsOnceAndStopsWithEveryonesMedia) {
  login(1);
  login(2);
  outbox out = feed(1, 32);
  EXPECT_EQ(to(out, 1)[0], (std::pair<uint32_t, bytes>{33, words({0})}));
  EXPECT_EQ(receivers(out, 32), (std::set<session_id>{1, 2}));
  EXPECT_EQ(to(out, 2)[0].second, words({101}));
  out = feed(2, 32);  // someone else already started it
  EXPECT_EQ(to(out, 2), (std::vector<std::pair<uint32_t, bytes>>{{33, words({1})}}));
  out = feed(2, 36);
  EXPECT_EQ(to(out, 2), (std::vector<std::pair<uint32_t, bytes>>{{37, words({1})}}));
  out = feed(2, 66);
  EXPECT_EQ(to(out, 2), (std::vector<std::pair<uint32_t, bytes>>{{67, words({0, 1, 101})}}));

  feed(1, 4, words({101, 1}));
  feed(1, 4, words({102, 2}));
  ASSERT_EQ(relay.ports(), 2u);
  out = feed(1, 34, words({101}));
  EXPECT_EQ(to(out, 1)[0], (std::pair<uint32_t, bytes>{35, words({0})}));
  EXPECT_EQ(receivers(out, 34), (std::set<session_id>{1, 2}));
  // Each publisher is told to stop, the others that the stream closed.
  auto first = to(out, 1), second = to(out, 2);
  EXPECT_NE(std::find(first.begin(), first.end(), std::make_pair(10u, words({101, 1}))),
            first.end());
  EXPECT_NE(std::find(second.begin(), second.end(), std::make_pair(12u, words({101, 1}))),
            second.end());
  EXPECT_NE(std::find(second.begin(), second.end(), std::make_pair(10u, words({102, 2}))),
            second.end());
  EXPECT_EQ(relay.ports(), 0u);
  out = feed(2, 66);
  EXPECT_EQ(to(out, 2), (std::vector<std::pair<uint32_t, bytes>>{{67, words({1, 0})}}));
  out = feed(2, 34, words({102}));  // no class: refused
  EXPECT_EQ(to(out, 2), (std::vector<std::pair<uint32_t, bytes>>{{35, words({1})}}));
}

TEST_F(RoomLogicTest, TagFloorMovesAndIsTakenOver) {
  login(1);
  login(2);
  outbox out = feed(1, 50);
  EXPECT_EQ(to(out, 1)[0], (std::pair<uint32_t, bytes>{51, words({0})}));
  EXPECT_EQ(receivers(out, 50), (std::set<session_id>{1, 2}));
  // The student takes it: the teacher hears its tag stopped first, then the new holder.
  out = feed(2, 50);
  auto teacher = to(out, 1);
  ASSERT_EQ(teacher.size(), 2u);
  EXPECT_EQ(teacher[0], (std::pair<uint32_t, bytes>{52, words({101})}));
  EXPECT_EQ(teacher[1], (std::pair<uint32_t, bytes>{50, words({102})}));
  out = feed(1, 54);
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{55, words({0, 1, 102})}}));
  out = feed(1, 52, words({101}));  // not the holder
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{53, words({1})}}));
  out = feed(1, 52, words({102}));
  EXPECT_EQ(to(out, 1)[0], (std::pair<uint32_t, bytes>{53, words({0})}));
  EXPECT_EQ(to(out, 2), (std::vector<std::pair<uint32_t, bytes>>{{52, words({102})}}));
  out = feed(1, 54);
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{55, words({0, 0})}}));
}

TEST_F(RoomLogicTest, ShareFloorApplicationReplyAndSharing) {
  login(1);
  login(2);
  outbox out = feed(2, 38);
  EXPECT_EQ(to(out, 2)[0], (std::pair<uint32_t, bytes>{39, words({0})}));
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{38, words({102})}}));
  // The members' automatic receipts change nothing.
  out = feed(1, 39, words({102}));
  EXPECT_TRUE(out.sends.empty());
  out = feed(1, 42, words({1, 102}));
  EXPECT_EQ(to(out, 1)[0], (std::pair<uint32_t, bytes>{43, words({1, 102})}));
  EXPECT_EQ(receivers(out, 42), (std::set<session_id>{1, 2}));
  EXPECT_EQ(to(out, 2)[0].second, words({1, 102}));
  out = feed(2, 44);
  EXPECT_EQ(to(out, 2)[0], (std::pair<uint32_t, bytes>{45, words({0})}));
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{44, words({102})}}));
  out = feed(1, 48);
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{49, words({0, 1, 102})}}));
  // The teacher shares: the student's share is stopped first.
  out = feed(1, 44);
  auto student = to(out, 2);
  ASSERT_EQ(student.size(), 2u);
  EXPECT_EQ(student[0], (std::pair<uint32_t, bytes>{46, words({102})}));
  EXPECT_EQ(student[1], (std::pair<uint32_t, bytes>{44, words({101})}));
  out = feed(1, 46, words({101}));
  EXPECT_EQ(to(out, 1)[0], (std::pair<uint32_t, bytes>{47, words({0})}));
  out = feed(1, 46, words({101}));
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{47, words({1})}}));
  // Taking the teaching tool back from a sharing student ends its share too.
  feed(2, 44);
  out = feed(1, 56, words({102}));
  auto teacher = to(out, 1);
  ASSERT_EQ(teacher.size(), 3u);
  EXPECT_EQ(teacher[1], (std::pair<uint32_t, bytes>{57, words({0})}));
  auto taken = to(out, 2);
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0], (std::pair<uint32_t, bytes>{46, words({102})}));
  EXPECT_EQ(taken[1], (std::pair<uint32_t, bytes>{56, words({102})}));
}

TEST_F(RoomLogicTest, LeavingMemberGivesUpItsFloors) {
  login(1);
  login(2);
  feed(2, 50);
  feed(2, 44);
  feed(2, 38);
  outbox out;
  room.on_closed(2, out);
  auto teacher = to(out, 1);
  ASSERT_EQ(teacher.size(), 4u);
  EXPECT_EQ(teacher[0], (std::pair<uint32_t, bytes>{52, words({102})}));
  EXPECT_EQ(teacher[1], (std::pair<uint32_t, bytes>{46, words({102})}));
  EXPECT_EQ(teacher[2], (std::pair<uint32_t, bytes>{40, words({102})}));
  EXPECT_EQ(teacher[3], (std::pair<uint32_t, bytes>{1, words({102})}));
  EXPECT_EQ(room.info().tag_holder, -1);
  EXPECT_EQ(room.info().sharer, -1);
}

TEST_F(RoomLogicTest, MediaOpenSubscribeAndClose) {
  login(1);
  login(2);
  login(3);
  // The teacher opens the student's camera: the student gets the port, the others hear of it.
  outbox out = feed(1, 4, words({102, 1}));
  ASSERT_EQ(to(out, 2).size(), 1u);
  EXPECT_EQ(to(out, 2)[0].first, 9u);
  const bytes nine = to(out, 2)[0].second;
  ASSERT_EQ(nine.size(), 10u);
  const uint16_t port = wirebytes::get_be16(nine.data() + 8);
  EXPECT_EQ(nine, port_payload(0, 1, port));
  EXPECT_EQ(receivers(out, 11), (std::set<session_id>{1, 3}));
  // Asked again: the same port again, nobody else told twice.
  out = feed(2, 4, words({102, 1}));
  EXPECT_EQ(to(out, 2), (std::vector<std::pair<uint32_t, bytes>>{{9, port_payload(0, 1, port)}}));
  EXPECT_TRUE(receivers(out, 11).empty());
  feed(2, 18, words({102, 1, 100}));
  ASSERT_EQ(relay.started.size(), 1u);
  // Subscribing: a port per listener; own streams and absent streams refused.
  out = feed(1, 19, words({102, 1}));
  ASSERT_EQ(to(out, 1).size(), 1u);
  EXPECT_EQ(to(out, 1)[0].first, 21u);
  // The port comes with the listener's session token, which the relay binds it to.
  const bytes port21 = to(out, 1)[0].second;
  ASSERT_EQ(port21.size(), pavo_wire::media_port_payload);
  const pavo_wire::media_token own = token(1);
  EXPECT_EQ(bytes(port21.begin() + 10, port21.end()),
            bytes(own.bytes, own.bytes + pavo_wire::media_token_size));
  EXPECT_EQ((relay.tokens[{true, 101, 102, 1}].bytes[0]), 1);
  feed(2, 19, words({102, 1}));
  EXPECT_FALSE(last_ok);
  feed(1, 19, words({102, 4}));
  EXPECT_FALSE(last_ok);
  feed(3, 19, words({102, 1}));
  EXPECT_EQ(relay.ports(), 3u);
  // Each port takes datagrams from its own member's address: the student's camera from the
  // student's, though the teacher asked for it; a subscription from its listener's.
  auto bound_to = [&](bool listening, uint32_t listener, uint32_t publisher, uint32_t kind) {
    return relay.sources[fake_relay::key(listening, listener, publisher, kind)];
  };
  EXPECT_EQ(bound_to(false, 0, 102, 1), address(2));
  EXPECT_EQ(bound_to(true, 101, 102, 1), address(1));
  EXPECT_EQ(bound_to(true, 103, 102, 1), address(3));
  // The teacher closes it: the student is told to stop, the others that it closed.
  out = feed(1, 5, words({102, 1}));
  EXPECT_EQ(to(out, 2), (std::vector<std::pair<uint32_t, bytes>>{{10, words({102, 1})}}));
  EXPECT_EQ(receivers(out, 12), (std::set<session_id>{1, 3}));
  EXPECT_EQ(relay.ports(), 0u);
  // Closing one's own stream: no 10 back.
  feed(3, 4, words({103, 4}));
  out = feed(3, 5, words({103, 4}));
  EXPECT_TRUE(to(out, 3).empty());
  feed(1, 4, words({101, 3}));  // not a media kind
  EXPECT_FALSE(last_ok);
}

TEST_F(RoomLogicTest, RoomAudioIsOneStreamPerListener) {
  login(1);
  login(2);
  login(3);
  feed(1, 4, words({101, 2}));
  feed(2, 4, words({102, 2}));
  outbox out = feed(3, 19, words({101, 2}));
  ASSERT_EQ(to(out, 3).size(), 1u);
  const bytes first = to(out, 3)[0].second;
  out = feed(3, 19, words({102, 2}));
  const bytes second = to(out, 3)[0].second;
  EXPECT_EQ(bytes(first.begin() + 8, first.end()), bytes(second.begin() + 8, second.end()));
  EXPECT_EQ(relay.ports(), 3u);  // two publishers, one listener port
  feed(1, 5, words({101, 2}));
  EXPECT_EQ(relay.ports(), 2u);
  feed(2, 5, words({102, 2}));
  EXPECT_EQ(relay.ports(), 0u);  // nobody publishes audio: the listener's port goes too
  // The newcomer hears what is published.
  feed(1, 4, words({101, 1}));
  feed(1, 4, words({101, 2}));
  out = log_in(4, 0, 104);
  EXPECT_FALSE(last_ok);  // room full (3)
  room.on_closed(3, out);
  out = log_in(4, 0, 104);
  auto newcomer = to(out, 4);
  ASSERT_EQ(newcomer.size(), 2u);
  EXPECT_EQ(newcomer[1], (std::pair<uint32_t, bytes>{29, words({101, 3})}));
}

TEST_F(RoomLogicTest, DisconnectingAMemberKicksAndRemovesIt) {
  login(1);
  login(2);
  feed(2, 4, words({102, 1}));
  outbox out;
  EXPECT_TRUE(room.disconnect(102, out));
  EXPECT_EQ(to(out, 2), (std::vector<std::pair<uint32_t, bytes>>{{70, {}}}));
  EXPECT_EQ(out.closes, (std::vector<session_id>{2}));
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{1, words({102})}}));
  EXPECT_EQ(relay.ports(), 0u);
  EXPECT_FALSE(room.disconnect(102, out));
}

TEST_F(RoomLogicTest, ProbesRefreshDeviceMasks) {
  login(1, 0);
  outbox out;
  room.probe_all(out);
  ASSERT_EQ(to(out, 1).size(), 1u);
  EXPECT_EQ(to(out, 1)[0].first, 8u);
  feed(1, 8, words({1, 3}));
  out = feed(1, 6);
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{6, words({3, 101})}}));
  out = feed(1, 3, words({42}));
  EXPECT_EQ(to(out, 1), (std::vector<std::pair<uint32_t, bytes>>{{3, words({42, 1})}}));
}

}  // namespace
}  // namespace mcu
