#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ServiceHarness.h"

using namespace tavtest;

namespace {
json consume(ServiceHarness& s, const Login& payer, uint32_t target, int giftId, int count,
             const std::string& price, const std::string& ticket = "") {
  return s.post("mbs/service/consume/addConsume",
                form({{"consumeGlobalId", std::to_string(target)},
                      {"ticketId", ticket.empty() ? payer.ticket : ticket},
                      {"giftId", std::to_string(giftId)},
                      {"count", std::to_string(count)},
                      {"money", price},
                      {"globalId", std::to_string(payer.id)}}));
}
double balance(ServiceHarness& s, const Login& who) {
  return s
      .post("aas/service/user/findUserInfoById", "id=" + std::to_string(who.id),
            who.ticket)["body"]["money"]
      .get<double>();
}
}  // namespace

TEST(MoneyTest, GiftsMoveTheCataloguePriceFromPayerToTarget) {
  ServiceHarness service;
  const Login student = service.login("student1");
  const Login teacher = service.login("teacher");
  // 10 roses at 1 star bean: the answer's body is the new balance, as text.
  json a = consume(service, student, kTeacher, 1, 10, "1");
  ASSERT_EQ(a["code"], 0) << a.dump();
  EXPECT_EQ(a["body"], "990");
  EXPECT_DOUBLE_EQ(balance(service, student), 990);
  EXPECT_DOUBLE_EQ(balance(service, teacher), 510);
  // The price the client shows must be the price charged.
  a = consume(service, student, kTeacher, 1, 1, "0.5");
  EXPECT_EQ(a["code"], 1);
  EXPECT_DOUBLE_EQ(balance(service, student), 990);
  // Not to oneself, not with somebody else's ticket, not beyond the balance.
  EXPECT_EQ(consume(service, student, kStudent1, 1, 1, "1")["msg"], "不可以自己给自己送礼物！");
  EXPECT_EQ(consume(service, student, kTeacher, 1, 1, "1", teacher.ticket)["code"], 401);
  a = consume(service, student, kTeacher, 5, 20, "50");  // 1000 > 990
  EXPECT_EQ(a["msg"], "余额不足，请先充值！");
  EXPECT_DOUBLE_EQ(balance(service, student), 990);
  EXPECT_EQ(consume(service, student, kTeacher, 99, 1, "1")["code"], 404);
  EXPECT_EQ(consume(service, student, kTeacher, 1, 0, "1")["code"], 400);
}

// Two purchases at the same moment against a balance that covers one: exactly
// one succeeds, and the balance never goes below zero.
TEST(MoneyTest, ConcurrentPurchasesNeverOverdrawTheBalance) {
  ServiceHarness service;
  const Login auditor = service.login("auditor");  // 200 star beans
  for (int round = 0; round < 5; ++round) {
    const double before = balance(service, auditor);
    const int count = static_cast<int>(before / 50 / 2) + 1;  // each buy takes more than half
    std::atomic<int> succeeded{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> buyers;
    for (int i = 0; i < 2; ++i) {
      buyers.emplace_back([&] {
        httplib::Client client("127.0.0.1", service.port());
        client.set_read_timeout(30, 0);
        auto res = client.Post("/mbs/service/consume/addConsume",
                               form({{"consumeGlobalId", "10001"},
                                     {"ticketId", auditor.ticket},
                                     {"giftId", "5"},
                                     {"count", std::to_string(count)},
                                     {"money", "50"},
                                     {"globalId", "10008"}}),
                               "application/x-www-form-urlencoded");
        if (res && json::parse(res->body)["code"] == 0)
          ++succeeded;
        else
          ++refused;
      });
    }
    for (auto& buyer : buyers)
      buyer.join();
    if (before >= count * 50) {
      EXPECT_EQ(succeeded.load(), 1) << "round " << round;
      EXPECT_DOUBLE_EQ(balance(service, auditor), before - count * 50);
    } else {
      EXPECT_EQ(succeeded.load(), 0);
    }
    EXPECT_GE(balance(service, auditor), 0);
    // Top up for the next round through the recharge page's path: a fresh key.
    const std::string key =
        service.post("aas/service/user/putRedis", "globalId=10008", auditor.ticket)["body"];
    auto res = service.raw("tavolin/views/personalCenter/rechargeCenter.html?Keycode=" + key,
                           "amount=130");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
  }
}

TEST(MoneyTest, CoursewareIsBoughtOnceAndPaysItsUploader) {
  ServiceHarness service;
  const Login student = service.login("student2");
  const Login teacher = service.login("teacher");
  json c = service.post("rms/service/courseware/findById", "id=2&globalId=10004", student.ticket);
  EXPECT_EQ(c["body"]["price"], 5);
  EXPECT_EQ(c["body"]["isPurchase"], false);
  json a = service.post("mbs/service/coursewareOrder/addOrderInfo",
                        "coursewareId=2&globalId=10004&payWay=1", student.ticket);
  ASSERT_EQ(a["code"], 0);
  EXPECT_DOUBLE_EQ(balance(service, student), 995);
  EXPECT_DOUBLE_EQ(balance(service, teacher), 505);
  a = service.post("mbs/service/coursewareOrder/addOrderInfo",
                   "coursewareId=2&globalId=10004&payWay=1", student.ticket);
  EXPECT_EQ(a["body"]["alreadyPurchased"], true);
  EXPECT_DOUBLE_EQ(balance(service, student), 995);
  c = service.post("rms/service/courseware/findById", "id=2&globalId=10004", student.ticket);
  EXPECT_EQ(c["isPurchase"], true);
  // The order is the buyer's to see.
  const int orderId = a["body"]["orderId"];
  EXPECT_EQ(service.post("mbs/service/order/findbyId", "orderId=" + std::to_string(orderId),
                         student.ticket)["code"],
            0);
  EXPECT_EQ(service.post("mbs/service/order/findbyId", "orderId=" + std::to_string(orderId),
                         teacher.ticket)["code"],
            403);
  // Nobody buys for somebody else.
  EXPECT_EQ(service.post("mbs/service/coursewareOrder/addOrderInfo",
                         "coursewareId=2&globalId=10003&payWay=1", student.ticket)["code"],
            403);
  // The parent (500) cannot afford an expensive courseware.
  ASSERT_EQ(
      service.post(
          "rms/service/courseware/updateRoomCourseware",
          form({{"id", "2"}, {"coursewareName", "第二章"}, {"price", "600"}, {"description", ""}}),
          teacher.ticket)["code"],
      0);
  const Login parent = service.login("parent");
  a = service.post("mbs/service/coursewareOrder/addOrderInfo",
                   "coursewareId=2&globalId=10007&payWay=1", parent.ticket);
  EXPECT_EQ(a["msg"], "星豆余额不足，请先充值！");
  EXPECT_DOUBLE_EQ(balance(service, parent), 500);
}

TEST(MoneyTest, MedalCountersRankMembersByMedals) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(service.post("rms/service/userMedal/addUserMedal",
                           "globalId=10006&medalId=2&roomId=1001", teacher.ticket)["code"],
              0);
  const json a =
      service.post("rms/service/userMedal/findCounterByRoomId", "roomId=1001", teacher.ticket);
  ASSERT_GE(a["body"].size(), 3u);
  EXPECT_EQ(a["body"][0]["10006"]["count"], 3);
  EXPECT_EQ(a["body"][0]["10006"]["nickName"], "赵小刚");
  EXPECT_EQ(a["body"][1]["10003"]["count"], 2);
  EXPECT_EQ(service.post("rms/service/userMedal/addUserMedal",
                         "globalId=10006&medalId=77&roomId=1001", teacher.ticket)["code"],
            404);
  // Medals go to members of the room only.
  EXPECT_NE(service.post("rms/service/userMedal/addUserMedal",
                         "globalId=10009&medalId=1&roomId=1001", teacher.ticket)["code"],
            0);
}

// Twenty gifts at once against a balance that covers six: the balance never
// goes below zero, and what leaves the payer and reaches the target is exactly
// the catalogue price times the count of the accepted ones.
TEST(MoneyTest, ConcurrentGiftsMoveExactlyTheCataloguePriceOfTheAcceptedOnes) {
  ServiceHarness service;
  const Login student = service.login("student1");  // 1000 star beans
  const Login teacher = service.login("teacher");
  const double payerBefore = balance(service, student);
  const double targetBefore = balance(service, teacher);
  // The client's "money" is only compared with the catalogue: a larger one pays nothing more.
  EXPECT_EQ(consume(service, student, kTeacher, 5, 1, "500")["code"], 1);
  EXPECT_EQ(consume(service, student, kTeacher, 5, 1, "5")["code"], 1);
  ASSERT_DOUBLE_EQ(balance(service, student), payerBefore);

  constexpr int kThreads = 20, kCount = 3;
  constexpr double kPrice = 50;  // gift 5
  std::atomic<int> accepted{0}, overdrawn{0}, other{0};
  std::vector<std::thread> payers;
  for (int i = 0; i < kThreads; ++i) {
    payers.emplace_back([&] {
      httplib::Client client("127.0.0.1", service.port());
      client.set_read_timeout(60, 0);
      auto res = client.Post("/mbs/service/consume/addConsume",
                             form({{"consumeGlobalId", "10001"},
                                   {"ticketId", student.ticket},
                                   {"giftId", "5"},
                                   {"count", std::to_string(kCount)},
                                   {"money", "50"},
                                   {"globalId", "10003"}}),
                             "application/x-www-form-urlencoded");
      const json answer = res ? json::parse(res->body, nullptr, false) : json();
      if (answer.is_object() && answer["code"] == 0) {
        ++accepted;
        EXPECT_GE(std::stod(answer["body"].get<std::string>()), 0);
      } else if (answer.is_object() && answer["msg"] == "余额不足，请先充值！") {
        ++overdrawn;
      } else {
        ++other;
      }
    });
  }
  for (auto& payer : payers)
    payer.join();
  const double moved = accepted * kCount * kPrice;
  EXPECT_EQ(accepted + overdrawn + other, kThreads);
  EXPECT_LE(moved, payerBefore);
  EXPECT_DOUBLE_EQ(balance(service, student), payerBefore - moved);
  EXPECT_DOUBLE_EQ(balance(service, teacher), targetBefore + moved);
  EXPECT_GE(balance(service, student), 0);
  if (other == 0) {  // nothing refused for another reason (a busy store): all that fit went
    EXPECT_EQ(accepted.load(), static_cast<int>(payerBefore / (kCount * kPrice)));
  }
}
