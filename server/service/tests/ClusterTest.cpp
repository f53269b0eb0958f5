// Two service nodes on one store (and one data folder), as behind a load
// balancer: whatever one node learns, the other answers by; money and limits
// hold for both together.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ServiceHarness.h"
#include "eventually.h"
#include "tavsrv/Database.h"

using namespace tavtest;

namespace {

json enterRoom(ServiceHarness& service, size_t node, const Login& who, uint32_t room,
               const std::string& code = "") {
  return service.postTo(node, "rms/service/room/userJoinRoom",
                        form({{"roomId", std::to_string(room)},
                              {"globalId", std::to_string(who.id)},
                              {"authCode", code}}),
                        who.ticket);
}

}  // namespace

// 50 gifts at once from one balance that pays for 10, half through each node:
// exactly 10 are paid, none twice, and the money adds up.
TEST(ClusterTest, ConcurrentGiftsThroughTwoNodesSpendTheBalanceExactlyOnce) {
  ServiceHarness service(true, {}, 2);
  const Login student = service.login("student1");
  const json gifts = service.post("rms/service/gift/findAll", "");
  ASSERT_EQ(gifts["code"], 0);
  const json& gift = gifts["body"][0];
  const int64_t priceCents = std::llround(gift["money"].get<double>() * 100);
  {
    const auto db = tavsrv::openConnection(service.store());
    db->run("UPDATE users SET balance_cents = ?1 WHERE id = ?2", 10 * priceCents, kStudent1);
  }
  const std::string body = form({{"consumeGlobalId", std::to_string(kStudent2)},
                                 {"ticketId", student.ticket},
                                 {"giftId", std::to_string(gift["id"].get<int64_t>())},
                                 {"count", "1"},
                                 {"money", gift["money"].dump()},
                                 {"globalId", std::to_string(kStudent1)}});
  const json before =
      service.post("aas/service/user/findUserInfoById", "id=" + std::to_string(kStudent2),
                   service.login("student2").ticket);

  constexpr int kGifts = 50;
  std::mutex mutex;
  std::condition_variable go;
  int ready = 0;
  std::atomic<int> paid{0}, refused{0};
  std::vector<std::thread> senders;
  for (int i = 0; i < kGifts; ++i) {
    senders.emplace_back([&, i] {
      httplib::Client client("127.0.0.1", service.port(i % 2));
      client.set_read_timeout(60, 0);
      {
        // All at once: each waits until every sender is ready.
        std::unique_lock<std::mutex> lock(mutex);
        if (++ready == kGifts)
          go.notify_all();
        go.wait(lock, [&] { return ready == kGifts; });
      }
      auto res = client.Post("/mbs/service/consume/addConsume", {{"X-Tav-Ticket", student.ticket}},
                             body, "application/x-www-form-urlencoded");
      ASSERT_TRUE(res);
      const json answer = json::parse(res->body);
      if (answer["code"] == 0)
        ++paid;
      else if (answer["msg"] == "余额不足，请先充值！")
        ++refused;
      else
        ADD_FAILURE() << res->body;
    });
  }
  for (auto& sender : senders)
    sender.join();
  EXPECT_EQ(paid.load(), 10);
  EXPECT_EQ(refused.load(), kGifts - 10);
  const auto db = tavsrv::openConnection(service.store());
  EXPECT_EQ(db->queryInt("SELECT balance_cents FROM users WHERE id = ?1", kStudent1), 0);
  EXPECT_EQ(db->queryInt("SELECT COUNT(*) FROM consumptions WHERE user_id = ?1", kStudent1), 10);
  const json after =
      service.postTo(1, "aas/service/user/findUserInfoById", "id=" + std::to_string(kStudent2),
                     service.login("student2").ticket);
  EXPECT_DOUBLE_EQ(after["body"]["money"].get<double>() - before["body"]["money"].get<double>(),
                   10.0 * priceCents / 100.0);
}

// Tickets, presence, the class under way, throttles and removals made through
// one node hold at the other.
TEST(ClusterTest, WhatOneNodeLearnsTheOtherAnswersBy) {
  ServiceHarness service(true, {}, 2);
  const Login teacher = service.login("teacher");
  const Login student = service.login("student1");

  // A ticket from node 0 names its user at node 1; presence entered at 0 is kept at 1.
  EXPECT_EQ(
      service.postTo(1, "aas/service/user/putRedis", "globalId=10003", student.ticket)["code"], 0);
  ASSERT_EQ(enterRoom(service, 0, student, kMathRoom)["code"], 0);
  service.clock().advance(1);  // the list is in order of entry
  ASSERT_EQ(enterRoom(service, 0, teacher, kMathRoom)["code"], 0);
  EXPECT_EQ(service.postTo(1, "rms/service/room/heartbeat", "globalId=10003&roomId=1001&type=2",
                           student.ticket)["code"],
            0);
  EXPECT_EQ(service.postTo(1, "rms/service/room/heartbeat", "globalId=10001&roomId=1001&type=1",
                           teacher.ticket)["code"],
            0);
  const json online =
      service.postTo(1, "rms/service/room/findRoomOnlineUser", "roomId=1001", teacher.ticket, true);
  ASSERT_EQ(online["onlineUser"].size(), 2u) << online.dump();
  EXPECT_EQ(online["onlineUser"][0]["globalId"], kStudent1);
  const json rooms = service.post("rms/service/room/findRoomByGlobalId", "globalId=10001");
  for (const json& room : rooms["body"])
    EXPECT_EQ(room["inClass"], room["id"] == kMathRoom) << room["id"];

  // Wrong passwords and wrong room codes count together, whichever node hears them.
  for (int i = 0; i < 5; ++i)
    service.postTo(i % 2, "aas/service/user/login",
                   form({{"userName", "student2"}, {"userPwd", "wrong"}}));
  json a = service.postTo(1, "aas/service/user/login",
                          form({{"userName", "student2"}, {"userPwd", "123456"}}), "", true);
  EXPECT_EQ(a["msg"], "密码错误次数过多，请5分钟后再试！");
  const Login student3 = service.login("student3");
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(enterRoom(service, i % 2, student3, kPrivateRoom, "0000")["code"], 423);
  EXPECT_EQ(enterRoom(service, 0, student3, kPrivateRoom, "2468")["msg"],
            "授权码错误次数过多，请稍后再试！");

  // A follower waiting at node 1 hears of a removal made through node 0.
  httplib::Client follower("127.0.0.1", service.port(1));
  follower.set_read_timeout(120, 0);
  const httplib::Headers token = {{"X-Tav-Internal-Token", ServiceHarness::kInternalToken}};
  auto first =
      follower.Post("/internal/room/removals", token, "", "application/x-www-form-urlencoded");
  ASSERT_TRUE(first);
  const std::string version = json::parse(first->body)["body"]["version"];
  std::thread waiting([&] {
    auto res = follower.Post("/internal/room/removals", token,
                             form({{"version", version}, {"waitMs", "20000"}}),
                             "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    const json list = json::parse(res->body)["body"];
    EXPECT_NE(list["version"], version);
    ASSERT_EQ(list["removals"].size(), 1u) << res->body;
    EXPECT_EQ(list["removals"][0]["userId"], kStudent1);
  });
  ASSERT_EQ(
      service.post("rms/service/room/addRoomBlack",
                   "globalId=10003&roomId=1001&type=2&optionUser=10001", teacher.ticket)["code"],
      0);
  waiting.join();
  a = enterRoom(service, 1, student, kMathRoom);
  EXPECT_EQ(a["code"], 403);
  EXPECT_EQ(a["msg"], "您已被老师请出教室，请15分钟后再进入！");
  EXPECT_EQ(service.postTo(1, "rms/service/room/heartbeat", "globalId=10003&roomId=1001&type=2",
                           student.ticket)["code"],
            -1);
}
