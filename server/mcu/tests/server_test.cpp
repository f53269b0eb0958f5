// The MCU over real sockets: room join on the main port, logins on room ports, lost
// connections, disconnection by the server, and garbage at every port; then who gets in:
// credentials for joins and logins, and floods of sessions that never join.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <random>
#include <thread>

#include "eventually.h"
#include "mcu/server.h"
#include "raw_client.h"

namespace mcu_test {
namespace {

mcu::Config test_config() {
  mcu::Config config;
  config.listen_port = 0;
  config.media_port_base = 0;
  config.probe_interval_ms = 0;
  config.internal_token = testsupport::kTestSecret;
  return config;
}

// Polls a condition the server changes on its own threads, up to a generous limit.
using testsupport::eventually;

TEST(McuServer, JoinHandsOutOnePortPerRoom) {
  mcu::Server server(test_config());
  const uint16_t main = server.start();
  ASSERT_NE(main, 0);
  EXPECT_EQ(server.start(), main);
  const uint16_t first = join_room(main, 1001), again = join_room(main, 1001),
                 other = join_room(main, 1002);
  EXPECT_NE(first, 0);
  EXPECT_NE(first, main);
  EXPECT_EQ(again, first);
  EXPECT_NE(other, first);
  EXPECT_EQ(server.stats().rooms, 2u);
  EXPECT_EQ(server.stats().joins, 3u);
}

TEST(McuServer, BadJoinsAreIgnored) {
  mcu::Server server(test_config());
  const uint16_t main = server.start();
  raw_client client(main);
  ASSERT_TRUE(client.connected());
  client.send(30, bytes{0, 1});  // too short for a room id
  client.send(32);               // not a join
  client.send(30, be32({1003}) + credential_tail(testsupport::testCredential(1, 1003)));
  auto reply = client.expect(31);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->payload.size(), 2u);
  EXPECT_NE(half(reply->payload, 0), 0);
  EXPECT_EQ(server.stats().rooms, 1u);
}

TEST(McuServer, RoomLimitRefusesNewRooms) {
  mcu::Config config = test_config();
  config.max_rooms = 1;
  mcu::Server server(config);
  const uint16_t main = server.start();
  EXPECT_NE(join_room(main, 1), 0);
  EXPECT_EQ(join_room(main, 2), 0);  // answered with port 0
  EXPECT_EQ(server.stats().rooms, 1u);
  EXPECT_EQ(server.stats().refused_joins, 1u);
}

TEST(McuServer, MembersMeetAndPeerMessagesFlow) {
  mcu::Server server(test_config());
  const uint16_t main = server.start();
  auto teacher = member(main, 7, 101, 3);
  ASSERT_TRUE(teacher);
  const uint16_t room_port = join_room(main, 7);
  raw_client student(room_port);
  ASSERT_TRUE(student.connected());
  student.send(0, login_payload(1, 102, 7));
  auto users = student.expect(0);
  ASSERT_TRUE(users);
  EXPECT_EQ(users->payload, be32({3, 101, 1, 102}));
  auto published = student.expect(29);
  ASSERT_TRUE(published);
  EXPECT_TRUE(published->payload.empty());
  auto entered = teacher->expect(13);
  ASSERT_TRUE(entered);
  EXPECT_EQ(entered->payload, be32({1, 102}));

  student.send(64, be32({101}) + bytes{'h', 'i'});
  auto p2p = teacher->expect(64);
  ASSERT_TRUE(p2p);
  EXPECT_EQ(p2p->payload, be32({102}) + bytes({'h', 'i'}));
  teacher->send(68, p2p->payload);
  auto ack = student.expect(68);
  ASSERT_TRUE(ack);
  EXPECT_EQ(word(ack->payload, 0), 101u);

  auto rooms = server.rooms();
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_EQ(rooms[0].port, room_port);
  ASSERT_EQ(rooms[0].members.size(), 2u);
  EXPECT_EQ(rooms[0].members[0].user_id, 101u);
  EXPECT_EQ(rooms[0].members[1].device_mask, 1u);
  EXPECT_EQ(server.stats().logins, 2u);
}

TEST(McuServer, LostConnectionCountsAsLeaving) {
  mcu::Config config = test_config();
  config.session_idle_ms = 1000;
  mcu::Server server(config);
  const uint16_t main = server.start();
  auto teacher = member(main, 7, 101);
  auto student = member(main, 7, 102);
  ASSERT_TRUE(teacher && student);
  student->drop();  // no leave message
  auto left = teacher->expect(1);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->payload, be32({102}));
  EXPECT_EQ(server.stats().members, 1u);
}

TEST(McuServer, DisconnectingAMemberSendsItSeventy) {
  mcu::Server server(test_config());
  const uint16_t main = server.start();
  auto teacher = member(main, 7, 101);
  auto student = member(main, 7, 102);
  ASSERT_TRUE(teacher && student);
  EXPECT_TRUE(server.disconnect_user(7, 102));
  EXPECT_TRUE(student->expect(70));
  auto left = teacher->expect(1);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->payload, be32({102}));
  EXPECT_FALSE(server.disconnect_user(7, 102));
  EXPECT_FALSE(server.disconnect_user(8, 101));
}

TEST(McuServer, EmptyRoomsClose) {
  mcu::Config config = test_config();
  config.empty_room_ms = 0;
  mcu::Server server(config);
  const uint16_t main = server.start();
  {
    auto teacher = member(main, 7, 101);
    ASSERT_TRUE(teacher);
    teacher->send(1);
    ASSERT_TRUE(eventually([&] { return server.stats().members == 0; }));
  }
  EXPECT_TRUE(eventually([&] { return server.stats().rooms == 0; }));
  EXPECT_NE(join_room(main, 7), 0);  // and opens again on demand
}

TEST(McuServer, MediaPortsAreRealAndComeBack) {
  mcu::Server server(test_config());
  const uint16_t main = server.start();
  auto teacher = member(main, 7, 101);
  auto student = member(main, 7, 102);
  ASSERT_TRUE(teacher && student);
  teacher->send(4, be32({101, 1}));
  auto open = teacher->expect(9);
  ASSERT_TRUE(open);
  ASSERT_EQ(open->payload.size(), 10u);
  const uint16_t port = half(open->payload, 8);
  EXPECT_NE(port, 0);
  // The port is held: nobody else can bind it.
  asio::io_context io;
  asio::ip::udp::socket probe(io);
  asio::error_code ec;
  probe.open(asio::ip::udp::v4(), ec);
  probe.bind(asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port), ec);
  EXPECT_TRUE(ec);
  auto published = student->expect(11);
  ASSERT_TRUE(published);
  EXPECT_EQ(published->payload, be32({101, 1}));
  student->send(19, be32({101, 1}));
  auto sub = student->expect(21);
  ASSERT_TRUE(sub);
  EXPECT_EQ(word(sub->payload, 0), 101u);
  teacher->send(5, be32({101, 1}));
  ASSERT_TRUE(student->expect(12));
  // Given back: the relay's network thread closes the socket soon after, and the port can be
  // bound then.
  asio::ip::udp::socket again(io);
  EXPECT_TRUE(eventually([&] {
    asio::error_code bind_error;
    again.close(bind_error);
    again.open(asio::ip::udp::v4(), bind_error);
    again.bind(asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port), bind_error);
    return !bind_error;
  })) << "port "
      << port << " is still held";
}

TEST(McuServer, GarbageDatagramsChangeNothing) {
  mcu::Server server(test_config());
  const uint16_t main = server.start();
  auto teacher = member(main, 7, 101);
  ASSERT_TRUE(teacher);
  const uint16_t room_port = join_room(main, 7);
  asio::io_context io;
  asio::ip::udp::socket flood(io);
  flood.open(asio::ip::udp::v4());
  std::mt19937 random(12345);
  std::vector<uint8_t> datagram;
  for (int i = 0; i < 20000; ++i) {
    datagram.resize(random() % 1500);
    for (auto& b : datagram)
      b = static_cast<uint8_t>(random());
    if (i % 3 == 0 && datagram.size() >= 24) {
      datagram[4] = 81;  // looks like a KCP data segment
      datagram[0] = datagram[1] = 0;
    }
    asio::error_code ignored;
    flood.send_to(
        asio::buffer(datagram),
        asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), i % 2 ? main : room_port),
        0, ignored);
  }
  // Still serving: a newcomer joins, and the teacher hears of it.
  auto student = member(main, 7, 102);
  ASSERT_TRUE(student);
  ASSERT_TRUE(teacher->expect(13));
  EXPECT_EQ(server.stats().members, 2u);
}

}  // namespace
}  // namespace mcu_test
