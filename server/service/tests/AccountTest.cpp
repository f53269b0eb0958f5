#include <gtest/gtest.h>

#include "ServiceHarness.h"
#include "tavsrv/Credential.h"

using namespace tavtest;

TEST(AccountTest, LoginAnswerUnnestsIntoTheObjectsTheClientReads) {
  ServiceHarness service;
  auto res =
      service.raw("aas/service/user/login", form({{"userName", "TEACHER"}, {"userPwd", "123456"}}));
  ASSERT_TRUE(res);
  // The body travels as a string...
  const json wire = json::parse(res->body);
  ASSERT_TRUE(wire["body"].is_string());
  // ...and the client's three replacements turn the answer into nested objects.
  const json answer = json::parse(tavsrv::unnest(res->body));
  EXPECT_EQ(answer["code"], 0);
  const json& body = answer["body"];
  EXPECT_EQ(body["globalId"], kTeacher);
  EXPECT_EQ(body["nickName"], "王老师");
  EXPECT_EQ(body["roleName"], "老师");
  EXPECT_EQ(body["phone"], "13800005001");
  EXPECT_EQ(body["imagePath"], "avatar/user-10001.bmp");
  EXPECT_EQ(body["ticketId"].get<std::string>().size(), 32u);
  EXPECT_EQ(answer["orgInfo"]["id"], 1);
  EXPECT_EQ(answer["chat_server"], "127.0.0.1:27801");
  // Each login gets its own ticket.
  EXPECT_NE(service.login("teacher").ticket, body["ticketId"]);
  // The phone number logs in too.
  EXPECT_EQ(service.login("13800005003").id, kStudent1);
}

TEST(AccountTest, WrongPasswordsAreRefusedAndRepeatedGuessesSlowedDown) {
  ServiceHarness service;
  for (int i = 0; i < 5; ++i) {
    const json a =
        service.post("aas/service/user/login", "userName=student2&userPwd=wrong", "", true);
    EXPECT_EQ(a["code"], 1);
    EXPECT_EQ(a["msg"], "用户名或密码错误！");
  }
  json a = service.post("aas/service/user/login", "userName=student2&userPwd=123456", "", true);
  EXPECT_EQ(a["msg"], "密码错误次数过多，请5分钟后再试！");
  service.clock().advance(5 * 60 * 1000 + 1);
  EXPECT_EQ(service.login("student2").id, kStudent2);
  a = service.post("aas/service/user/login", "userName=nobody&userPwd=123456", "", true);
  EXPECT_EQ(a["msg"], "用户名或密码错误！");
  a = service.post("aas/service/user/login", "userName=teacher", "", true);
  EXPECT_EQ(a["code"], 400);
  EXPECT_EQ(a["msg"], "缺少参数：userPwd");
}

// Behind a load balancer every client comes from its address: the address that
// counts is the one its X-Forwarded-For names, and only a trusted proxy's.
TEST(AccountTest, WrongPasswordsCountPerClientBehindATrustedProxyOnly) {
  const auto guess = [](ServiceHarness& service, const std::string& client,
                        const std::string& password) {
    auto res = service.raw("aas/service/user/login",
                           form({{"userName", "student2"}, {"userPwd", password}}),
                           {{"X-Forwarded-For", "203.0.113.9, " + client}});
    return res ? json::parse(tavsrv::unnest(res->body))["msg"].get<std::string>() : "";
  };
  ServiceHarness proxied(true, [](tavsvc::ServiceConfig& config) {
    config.trustedProxies = {"10.9.9.9", "127.0.0.1"};
  });
  for (int i = 0; i < 5; ++i)
    guess(proxied, "198.51.100.1", "wrong");
  EXPECT_EQ(guess(proxied, "198.51.100.1", "123456"), "密码错误次数过多，请5分钟后再试！");
  EXPECT_EQ(guess(proxied, "198.51.100.2", "123456"), "");  // another client logs in

  // Not trusted: the header is the client's word, which changes nothing.
  ServiceHarness direct;
  for (int i = 0; i < 5; ++i)
    guess(direct, "198.51.100." + std::to_string(i), "wrong");
  EXPECT_EQ(guess(direct, "198.51.100.7", "123456"), "密码错误次数过多，请5分钟后再试！");
}

TEST(AccountTest, IdentityComesFromTheTicketHeaderOnly) {
  ServiceHarness service;
  json a = service.post("aas/service/user/putRedis", "globalId=10003");
  EXPECT_EQ(a["code"], 401);
  EXPECT_EQ(a["msg"], "请先登录！");
  const Login student = service.login("student1");
  service.login("teacher");
  // Logins from this address stand for nobody: behind a NAT that is everybody.
  for (const char* user : {"globalId=10003", "globalId=10001"}) {
    a = service.post("aas/service/user/putRedis", user);
    EXPECT_EQ(a["code"], 401) << user;
    EXPECT_EQ(a["msg"], "请先登录！");
  }
  // With the header exactly the ticket's user may act.
  EXPECT_EQ(service.post("aas/service/user/putRedis", "globalId=10003", student.ticket)["code"], 0);
  a = service.post("aas/service/user/putRedis", "globalId=10001", student.ticket);
  EXPECT_EQ(a["code"], 403);
  EXPECT_EQ(a["msg"], "没有权限！");
  a = service.post("aas/service/user/putRedis", "globalId=10003",
                   "00000000000000000000000000000000");
  EXPECT_EQ(a["code"], 401);
  EXPECT_EQ(a["msg"], "登录已失效，请重新登录！");
  // A user keeps its 20 newest tickets.
  for (int i = 0; i < 20; ++i)
    service.login("student1");
  EXPECT_EQ(service.post("aas/service/user/putRedis", "globalId=10003", student.ticket)["code"],
            401);
  const Login recent = service.login("student1");
  EXPECT_EQ(service.post("aas/service/user/putRedis", "globalId=10003", recent.ticket)["code"], 0);
  // Tickets expire after a week.
  service.clock().advance(7LL * 24 * 3600 * 1000 + 1);
  EXPECT_EQ(service.post("aas/service/user/putRedis", "globalId=10003", student.ticket)["code"],
            401);
}

TEST(AccountTest, BalanceIsOnlyShownToItsOwner) {
  ServiceHarness service;
  const Login student = service.login("student1");
  json a = service.post("aas/service/user/findUserInfoById", "id=10003", student.ticket);
  EXPECT_EQ(a["body"]["money"], 1000.0);
  a = service.post("aas/service/user/findUserInfoById", "id=10004", student.ticket);
  EXPECT_EQ(a["code"], 0);
  EXPECT_EQ(a["body"]["nickName"], "刘小红");
  EXPECT_FALSE(a["body"].contains("money"));
  EXPECT_FALSE(a["body"].contains("phone"));
  EXPECT_EQ(service.post("aas/service/user/findUserInfoById", "id=99")["code"], 404);
}

TEST(AccountTest, TeacherScoresAreCheckedBeforeTheyAreStored) {
  ServiceHarness service;
  const Login student = service.login("student1");
  const auto score = [&](const std::string& param) {
    return service.post("aas/service/user/saveScores", form({{"param", param}}), student.ticket);
  };
  EXPECT_EQ(
      score(
          R"({"uId":10003,"uRole":1,"tId":10001,"tRole":1,"roomId":1001,"score":100,"content":"讲得很好"})")
          ["code"],
      0);
  EXPECT_EQ(
      score(
          R"({"uId":10003,"uRole":1,"tId":10001,"tRole":1,"roomId":1001,"score":55,"content":""})")
          ["code"],
      400);
  EXPECT_EQ(
      score(R"({"uId":10003,"uRole":1,"tId":10001,"tRole":1,"roomId":1001,"score":20,"content":)" +
            json(std::string(201, 'x')).dump() + "}")["code"],
      400);
  EXPECT_EQ(
      score(
          R"({"uId":10004,"uRole":1,"tId":10001,"tRole":1,"roomId":1001,"score":20,"content":""})")
          ["code"],
      403);
  EXPECT_EQ(score("not json")["code"], 400);
  EXPECT_EQ(score(R"({"uId":"10003"})")["code"], 400);

  // The room's owner reads what was said; nobody else does.
  EXPECT_EQ(
      score(
          R"({"uId":10003,"uRole":1,"tId":10001,"tRole":1,"roomId":1001,"score":60,"content":"<b>快</b>"})")
          ["code"],
      0);
  const Login teacher = service.login("teacher");
  const json summary =
      service.post("rms/service/room/findEvaluationSummary", "roomId=1001", teacher.ticket);
  ASSERT_EQ(summary["code"], 0);
  const int64_t count = summary["body"]["count"].get<int64_t>();
  ASSERT_GE(count, 2);
  EXPECT_EQ(summary["body"]["latest"][0]["score"], 60);
  EXPECT_EQ(summary["body"]["latest"][0]["content"], "<b>快</b>");
  EXPECT_GT(summary["body"]["mean"].get<double>(), 0.0);
  EXPECT_NE(
      service.post("rms/service/room/findEvaluationSummary", "roomId=1001", student.ticket)["code"],
      0);
}

// The login and room entry hand out what the message server and the MCU believe.
TEST(AccountTest, CredentialsNameTheUserAndWhereItMayGo) {
  ServiceHarness service;
  const json login = service.post(
      "aas/service/user/login", form({{"userName", "student1"}, {"userPwd", "123456"}}), "", true);
  ASSERT_EQ(login["code"], 0);
  const int64_t now = service.clock().nowMs();
  const auto chat = tavsrv::verifyCredential(ServiceHarness::kInternalToken,
                                             login["chat_credential"].get<std::string>(), now);
  ASSERT_TRUE(chat);
  EXPECT_EQ(chat->user, kStudent1);
  EXPECT_EQ(chat->room, tavsrv::kLoginChannel);
  // The lobby reconnects with it for as long as the login lasts.
  EXPECT_TRUE(tavsrv::verifyCredential(ServiceHarness::kInternalToken,
                                       login["chat_credential"].get<std::string>(),
                                       now + 6LL * 24 * 3600 * 1000));

  const std::string ticket = login["body"]["ticketId"];
  // A lobby whose credential is refused asks for a new one with its ticket, for itself only.
  service.clock().advance(1000);
  const json renewed = service.post("aas/service/user/chatCredential", "globalId=10003", ticket);
  ASSERT_EQ(renewed["code"], 0);
  const auto again = tavsrv::verifyCredential(
      ServiceHarness::kInternalToken, renewed["chat_credential"].get<std::string>(), now + 1000);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->user, kStudent1);
  EXPECT_EQ(again->room, tavsrv::kLoginChannel);
  EXPECT_EQ(service.post("aas/service/user/chatCredential", "globalId=10001", ticket)["code"], 403);
  EXPECT_EQ(service.post("aas/service/user/chatCredential", "globalId=10003")["code"], 401);

  const json entry =
      service.post("rms/service/room/userJoinRoom", "roomId=1001&globalId=10003", ticket);
  ASSERT_EQ(entry["code"], 0);
  const std::string text = entry["room_credential"];
  const auto room = tavsrv::verifyCredential(ServiceHarness::kInternalToken, text, now);
  ASSERT_TRUE(room);
  EXPECT_EQ(room->user, kStudent1);
  EXPECT_EQ(room->room, kMathRoom);
  EXPECT_EQ(room->roleCode, entry["roleCode"].get<int>());
  EXPECT_FALSE(
      tavsrv::verifyCredential(ServiceHarness::kInternalToken, text, now + 13LL * 3600 * 1000));
  EXPECT_FALSE(tavsrv::verifyCredential("another secret", text, now));
}
