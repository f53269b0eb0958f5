// Who gets into the MCU, against the real server on loopback: credentials on joins and
// logins, and floods of sessions that never join or log in. Then the bookkeeping behind it
// on a virtual clock.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "admission.h"
#include "eventually.h"
#include "mcu/server.h"
#include "raw_client.h"
#include "tavsrv/Credential.h"
#include "wirebytes/byte_writer.h"

namespace mcu_test {
namespace {

using testsupport::eventually;
using testsupport::testCredential;

mcu::Config secured_config() {
  mcu::Config config;
  config.listen_port = 0;
  config.media_port_base = 0;
  config.probe_interval_ms = 0;
  config.internal_token = testsupport::kTestSecret;
  // Sessions that never log in must not just time out as idle within the test.
  config.session_idle_ms = 600000;
  return config;
}

// Sends one message on a new session of `port` and returns the answer of `type`.
std::optional<message> ask(uint16_t port, uint32_t type, const bytes& payload, uint32_t answer) {
  raw_client client(port);
  if (!client.connected() || client.send(type, payload) != 0)
    return std::nullopt;
  return client.expect(answer);
}

TEST(McuAdmission, ARoomOpensOnlyForACredentialNamingIt) {
  mcu::Server server(secured_config());
  const uint16_t main = server.start();
  ASSERT_NE(main, 0);
  const int64_t later = 4102444800000;  // 2100
  const std::vector<std::pair<const char*, bytes>> refused = {
      {"none", be32({1001})},
      {"another room's", be32({1001}) + credential_tail(testCredential(10001, 1002))},
      {"expired", be32({1001}) + credential_tail(testCredential(10001, 1001, 1, -1000))},
      {"another secret's", be32({1001}) + credential_tail(tavsrv::signCredential(
                                              "not the secret", {10001, 1001, 1, later}))},
      {"longer than the message", be32({1001}) + bytes{0, 200, '1', '.'}},
  };
  for (const auto& [what, payload] : refused) {
    auto answer = ask(main, 30, payload, 31);
    ASSERT_TRUE(answer) << what;
    EXPECT_EQ(answer->payload, (bytes{0, 0})) << what;
  }
  EXPECT_EQ(server.stats().rooms, 0u);
  EXPECT_EQ(server.stats().refused_joins, refused.size());
  EXPECT_NE(join_room(main, 1001, testCredential(10001, 1001)), 0);
  EXPECT_EQ(server.stats().rooms, 1u);
}

// Joins of made-up rooms used to open a room each until the room limit kept real ones out.
TEST(McuAdmission, MadeUpRoomsDoNotKeepARealOneOut) {
  mcu::Config config = secured_config();
  config.max_rooms = 4;
  mcu::Server server(config);
  const uint16_t main = server.start();
  ASSERT_NE(main, 0);
  for (uint32_t room = 5000; room < 5020; ++room) {
    // No credential, or a real member's for its own room shown for another.
    const bytes tail = room % 2 ? bytes{} : credential_tail(testCredential(10001, 1001));
    auto answer = ask(main, 30, be32({room}) + tail, 31);
    ASSERT_TRUE(answer) << room;
    EXPECT_EQ(answer->payload, (bytes{0, 0})) << room;
  }
  EXPECT_EQ(server.stats().rooms, 0u);
  EXPECT_NE(join_room(main, 1001, testCredential(10001, 1001)), 0);
  EXPECT_EQ(server.stats().rooms, 1u);
}

// A login as another user used to replace that user's session (the teacher was cut off and
// its class stopped). Now it takes that user's own credential for this room.
TEST(McuAdmission, NobodyLogsInAsAnotherUser) {
  mcu::Server server(secured_config());
  const uint16_t main = server.start();
  auto teacher = member(main, 7, 101);
  auto student = member(main, 7, 102);
  ASSERT_TRUE(teacher && student);
  teacher->send(32);
  ASSERT_TRUE(student->expect(32));
  const uint16_t room_port = join_room(main, 7);
  ASSERT_NE(room_port, 0);
  const std::vector<std::pair<const char*, bytes>> attempts = {
      {"none", be32({3, 101})},
      {"the student's", be32({3, 101}) + credential_tail(testCredential(102, 7))},
      {"another room's", be32({3, 101}) + credential_tail(testCredential(101, 8))},
      {"expired", be32({3, 101}) + credential_tail(testCredential(101, 7, 1, -1000))},
  };
  for (const auto& [what, payload] : attempts)
    EXPECT_TRUE(ask(room_port, 0, payload, 70)) << what;
  EXPECT_EQ(server.stats().refused_logins, attempts.size());

  // Everything the teacher was sent meanwhile is in once this message is.
  student->send(64, be32({101}) + bytes{'o', 'k'});
  ASSERT_TRUE(teacher->expect(64));
  EXPECT_FALSE(teacher->expect(70, std::chrono::milliseconds(0)));
  EXPECT_FALSE(student->expect(1, std::chrono::milliseconds(0)));
  const auto rooms = server.rooms();
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_EQ(rooms[0].members.size(), 2u);
  EXPECT_TRUE(rooms[0].class_running);
  EXPECT_EQ(rooms[0].class_starter, 101u);
}

// KCP window probes, each opening a conversation that never joins, from `sockets` sockets at
// `address`, `per_socket` each; in batches, each waited for until the server has counted it
// (admitted or refused), so that no socket buffer overflows.
void probe_flood(const char* address, uint16_t port, std::size_t sockets, std::size_t per_socket,
                 const std::function<uint64_t()>& counted) {
  asio::io_context io;
  std::vector<std::unique_ptr<asio::ip::udp::socket>> flood;
  for (std::size_t i = 0; i < sockets; ++i)
    flood.push_back(std::make_unique<asio::ip::udp::socket>(
        io, asio::ip::udp::endpoint(asio::ip::make_address_v4(address), 0)));
  const asio::ip::udp::endpoint to(asio::ip::make_address_v4("127.0.0.1"), port);
  const uint64_t start = counted();
  uint64_t sent = 0;
  for (uint32_t conv = 1; conv <= per_socket; ++conv) {
    for (auto& socket : flood) {
      bytes probe;
      wirebytes::byte_writer(probe)
          .le32(0x5000 + conv)
          .u8(83)
          .u8(0)
          .le16(128)
          .le32(0)
          .le32(0)
          .le32(0)
          .le32(0);
      socket->send_to(asio::buffer(probe), to);
      ++sent;
    }
    ASSERT_TRUE(eventually([&] { return counted() - start >= sent; })) << sent << " sent";
  }
}

uint64_t sessions_seen(const mcu::Server& server) {
  const mcu::Stats stats = server.stats();
  return stats.pending + stats.refused_sessions;
}

// 1100 sessions from one address used to fill the session table of a port for the idle
// time-out; now one address holds a few, and the others get in.
TEST(McuAdmission, AProbeFloodFromOneAddressLeavesRoomForEveryoneElse) {
  const mcu::Config config = secured_config();
  mcu::Server server(config);
  const uint16_t main = server.start();
  auto teacher = member(main, 7, 101);
  ASSERT_TRUE(teacher);
  const uint16_t room_port = join_room(main, 7);
  ASSERT_NE(room_port, 0);
  probe_flood("127.0.0.2", main, 20, 55, [&] { return sessions_seen(server); });
  probe_flood("127.0.0.2", room_port, 20, 55, [&] { return sessions_seen(server); });
  EXPECT_LE(server.stats().pending, 2 * config.max_pending_per_address);

  auto student = member(main, 7, 102);
  ASSERT_TRUE(student);
  EXPECT_TRUE(teacher->expect(13));
}

// Once the flood stops, its sessions are closed when their time to join runs out, and the
// address is welcome again.
TEST(McuAdmission, AfterAFloodItsAddressGetsInAgain) {
  mcu::Config config = secured_config();
  config.login_timeout_ms = 1000;
  mcu::Server server(config);
  const uint16_t main = server.start();
  ASSERT_NE(main, 0);
  probe_flood("127.0.0.1", main, 20, 55, [&] { return sessions_seen(server); });
  EXPECT_GE(server.stats().refused_sessions, 1100 - config.max_pending_per_address);
  ASSERT_TRUE(eventually([&] { return server.stats().pending == 0; }));
  EXPECT_TRUE(member(main, 7, 101));
}

TEST(McuAdmission, AJoinOrLoginMustComeWithinTheTimeOut) {
  mcu::Config config = secured_config();
  config.login_timeout_ms = 500;
  mcu::Server server(config);
  const uint16_t main = server.start();
  const uint16_t room_port = join_room(main, 7);
  ASSERT_NE(room_port, 0);
  // Connected to the room port, and to the main port, but neither logged in nor joined.
  raw_client idle(room_port), silent(main);
  ASSERT_TRUE(idle.connected() && silent.connected());
  EXPECT_EQ(server.stats().pending, 2u);
  ASSERT_TRUE(eventually([&] { return server.stats().timed_out == 2; }));
  EXPECT_EQ(server.stats().pending, 0u);
  EXPECT_TRUE(member(main, 7, 101));
}

TEST(PendingSessions, BoundEachAddressAndEndpointUntilTheySettleOrExpire) {
  mcu::pending_sessions pending({3, 2, 1000});
  EXPECT_TRUE(pending.admit(1, "10.0.0.1", 5000, 0));
  EXPECT_TRUE(pending.admit(2, "10.0.0.1", 5000, 0));
  EXPECT_FALSE(pending.admit(3, "10.0.0.1", 5000, 0));  // that endpoint has its two
  EXPECT_TRUE(pending.admit(4, "10.0.0.1", 5001, 100));
  EXPECT_FALSE(pending.admit(5, "10.0.0.1", 5002, 100));  // that address has its three
  EXPECT_TRUE(pending.admit(6, "10.0.0.2", 5000, 100));
  pending.settle(1);  // logged in
  EXPECT_TRUE(pending.admit(7, "10.0.0.1", 5000, 200));
  EXPECT_TRUE(pending.take_overdue(999).empty());
  EXPECT_EQ(pending.take_overdue(1000), (std::vector<uint64_t>{2}));
  EXPECT_EQ(pending.take_overdue(1100), (std::vector<uint64_t>{4, 6}));
  pending.settle(7);
  pending.settle(7);  // ended after it logged in: counted once
  EXPECT_EQ(pending.size(), 0u);
  for (uint16_t port = 6000; port < 6003; ++port)
    EXPECT_TRUE(pending.admit(port, "10.0.0.1", port, 2000)) << port;
}

TEST(CredentialTail, IsReadWithinTheMessageAndOnlyAsPrintableText) {
  auto read = [](const bytes& tail) {
    wirebytes::byte_reader in(tail.data(), tail.size());
    auto text = mcu::read_credential(in);
    return text ? std::optional<std::string>(std::string(*text)) : std::nullopt;
  };
  EXPECT_EQ(read(credential_tail("1.2.3")), std::optional<std::string>("1.2.3"));
  EXPECT_EQ(read(credential_tail("1.2.3") + bytes{9, 9}), std::optional<std::string>("1.2.3"));
  EXPECT_FALSE(read({}));
  EXPECT_FALSE(read({0}));
  EXPECT_FALSE(read({0, 0}));
  EXPECT_FALSE(read({0, 4, 'a', 'b', 'c'}));  // longer than what is left
  EXPECT_FALSE(read(credential_tail("a b")));
  EXPECT_FALSE(read(credential_tail(std::string(161, 'a'))));
}

}  // namespace
}  // namespace mcu_test
