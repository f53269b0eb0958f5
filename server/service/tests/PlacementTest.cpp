// Rooms spread over MCUs: the rendezvous hash, and rooms entered through two
// service nodes over two real MCUs, one of which dies and comes back.
#include <gtest/gtest.h>

#include <map>

#include "ServiceHarness.h"
#include "eventually.h"
#include "mcu/server.h"
#include "service/Placement.h"
#include "tavsrv/Database.h"

using namespace tavtest;
using tavsrv::HostPort;

TEST(PlacementTest, RendezvousSpreadsRoomsEvenlyAndMovesOnlyALostNodesRooms) {
  const std::vector<HostPort> three = {{"10.0.0.1", 27802}, {"10.0.0.2", 27802}, {"mcu3", 1}};
  const std::vector<HostPort> two = {three[0], three[2]};
  std::map<std::string, int> rooms;
  int moved = 0;
  for (uint32_t room = 1; room <= 3000; ++room) {
    const HostPort& before = tavsvc::rendezvousNode(room, three);
    ++rooms[before.str()];
    const HostPort& after = tavsvc::rendezvousNode(room, two);
    if (!(before == three[1])) {
      EXPECT_EQ(after, before) << room;  // only the lost node's rooms move
    } else {
      ++moved;
    }
  }
  ASSERT_EQ(rooms.size(), 3u);
  for (const auto& [node, count] : rooms)
    EXPECT_NEAR(count, 1000, 100) << node;
  EXPECT_EQ(moved, rooms[three[1].str()]);
}

namespace {

std::unique_ptr<mcu::Server> startMcu(uint16_t port = 0) {
  mcu::Config config;
  config.listen_host = "127.0.0.1";
  config.listen_port = port;
  config.media_port_base = 0;
  config.internal_token = ServiceHarness::kInternalToken;
  auto server = std::make_unique<mcu::Server>(config);
  return server->start() != 0 ? std::move(server) : nullptr;
}

}  // namespace

TEST(PlacementTest, RoomsGoToTheirMcuStayWhileOccupiedAndLeaveADeadOne) {
  auto first = startMcu();
  auto second = startMcu();
  ASSERT_TRUE(first && second);
  const std::vector<HostPort> mcus = {{"127.0.0.1", first->port()}, {"127.0.0.1", second->port()}};
  ServiceHarness service(
      true,
      [&](tavsvc::ServiceConfig& config) {
        config.mcus = mcus;
        config.healthIntervalMs = 100;
      },
      2);
  const Login teacher = service.login("teacher");
  const Login student = service.login("student1");
  const auto mcuOf = [&](size_t node, const Login& who, uint32_t room) {
    const json a = service.postTo(
        node, "rms/service/room/userJoinRoom",
        form({{"roomId", std::to_string(room)}, {"globalId", std::to_string(who.id)}}), who.ticket);
    EXPECT_EQ(a["code"], 0) << a.dump();
    return HostPort{a.value("mcu_ip_address", ""), a.value("port", 0)};
  };
  // A room of the teacher's the hash gives to `mcu`: an open demo room, else one made for it.
  const auto db = tavsrv::openConnection(service.store());
  const auto roomOn = [&](const HostPort& mcu, uint32_t other) {
    for (uint32_t room : {1001, 1002, 1004, 1005, 1006, 1007})
      if (room != other && tavsvc::rendezvousNode(room, mcus) == mcu)
        return room;
    uint32_t room = 3000;
    while (!(tavsvc::rendezvousNode(room, mcus) == mcu))
      ++room;
    db->run("INSERT INTO rooms(id, owner_id, room_name, created_ms) VALUES(?1, ?2, 'x', 0)", room,
            kTeacher);
    return room;
  };
  // Two rooms the hash parts land on different MCUs, whichever service node is asked.
  const uint32_t x = roomOn(mcus[0], 0), y = roomOn(mcus[1], x);
  EXPECT_EQ(mcuOf(0, teacher, x), mcus[0]);
  EXPECT_EQ(mcuOf(1, teacher, y), mcus[1]);
  EXPECT_EQ(mcuOf(1, student, 1001), tavsvc::rendezvousNode(1001, mcus));

  // x's MCU dies: x goes to the other at its next entry, y stays.
  const uint16_t lostPort = first->port();
  first.reset();
  for (size_t node : {1, 0})  // each service node finds it dead by itself
    EXPECT_TRUE(testsupport::eventually([&] { return mcuOf(node, teacher, x) == mcus[1]; }));
  EXPECT_EQ(mcuOf(0, teacher, y), mcus[1]);

  // It comes back: an empty room it is the choice for returns to it, while x,
  // with the teacher in it, stays where its members are...
  first = startMcu(lostPort);
  ASSERT_TRUE(first) << "the MCU could not have its port again";
  const uint32_t z = roomOn(mcus[0], x);
  EXPECT_TRUE(testsupport::eventually([&] { return mcuOf(0, student, z) == mcus[0]; }));
  EXPECT_EQ(mcuOf(0, student, x), mcus[1]);
  // ...until they have all gone (90 s without a heartbeat).
  service.clock().advance(91 * 1000);
  EXPECT_EQ(mcuOf(0, student, x), mcus[0]);
  // The probes (every 100 ms from each node) leave no session waiting at the MCUs.
  for (const auto* mcu : {first.get(), second.get()}) {
    EXPECT_EQ(mcu->stats().timed_out, 0u);
    EXPECT_EQ(mcu->stats().refused_sessions, 0u);
  }
}
