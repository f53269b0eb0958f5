#include <gtest/gtest.h>

#include <set>

#include "Domain.h"
#include "ServiceHarness.h"

using namespace tavtest;

namespace {
json enter(ServiceHarness& s, uint32_t room, const Login& who) {
  return s.post("rms/service/room/userJoinRoom",
                form({{"roomId", std::to_string(room)}, {"globalId", std::to_string(who.id)}}),
                who.ticket);
}
json heartbeat(ServiceHarness& s, uint32_t room, const Login& who, int type = 2) {
  return s.post("rms/service/room/heartbeat",
                form({{"globalId", std::to_string(who.id)},
                      {"roomId", std::to_string(room)},
                      {"type", std::to_string(type)}}),
                who.ticket);
}
std::set<uint32_t> onlineIds(ServiceHarness& s, uint32_t room, const Login& asker) {
  const json a = s.post("rms/service/room/findRoomOnlineUser", "roomId=" + std::to_string(room),
                        asker.ticket, true);
  std::set<uint32_t> ids;
  for (const auto& member : a["onlineUser"])
    ids.insert(member["globalId"].get<uint32_t>());
  return ids;
}
}  // namespace

TEST(RoomTest, RoomListsPageAndHideAccessCodesFromOthers) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  json own = service.post("rms/service/room/findRoomByGlobalId", "globalId=10001", teacher.ticket);
  ASSERT_EQ(own["body"].size(), 7u);  // three pages of three in the lobby
  std::set<int> statuses;
  std::string privateCode;
  for (const auto& room : own["body"]) {
    statuses.insert(room["status"].get<int>());
    if (room["openStyle"] == "2")
      privateCode = room["authCode"];
    EXPECT_EQ(room["imagePath"].get<std::string>()[0], '/');
  }
  EXPECT_EQ(statuses, (std::set<int>{1, 3, 4}));
  EXPECT_EQ(privateCode, "2468");
  const Login student = service.login("student1");
  json seen = service.post("rms/service/room/findRoomByGlobalId", "globalId=10001", student.ticket);
  for (const auto& room : seen["body"])
    EXPECT_EQ(room["authCode"], "");
  json joined = service.post("rms/service/room/findMyJoinRoom", "globalId=10003", student.ticket);
  ASSERT_GE(joined["body"].size(), 4u);
  EXPECT_EQ(joined["body"][0]["nickName"], "王老师");
  EXPECT_EQ(joined["body"][0]["roomId"], joined["body"][0]["id"]);
}

TEST(RoomTest, EntryAnswerCarriesRoomServersRolesAndLinkedAccount) {
  ServiceHarness service;
  const Login parent = service.login("parent");
  const json a = enter(service, kMathRoom, parent);
  ASSERT_EQ(a["code"], 0) << a.dump();
  EXPECT_EQ(a["id"], kMathRoom);
  EXPECT_EQ(a["globalId"], kTeacher);
  EXPECT_EQ(a["status"], 1);
  EXPECT_EQ(a["openStyle"], "1");
  EXPECT_EQ(a["nickNameT"], "王老师");
  EXPECT_EQ(a["isAssistant"], false);
  EXPECT_EQ(a["mcu_ip_address"], "127.0.0.1");
  EXPECT_EQ(a["port"], 27802);
  EXPECT_EQ(a["chat_server"], "127.0.0.1:27801");
  EXPECT_EQ(a["video_server"], "127.0.0.1:27804");
  EXPECT_EQ(a["document_server"], "127.0.0.1:27803");
  const std::string files = "127.0.0.1:" + std::to_string(service.port());
  for (const char* key : {"file_server", "chat_file_server", "courseware_file_server"})
    EXPECT_EQ(a[key], files);
  EXPECT_EQ(a["role"], "家长");
  EXPECT_EQ(json::parse(a["son"].get<std::string>())["globalId"], kStudent1);
  EXPECT_FALSE(a["level_detailed"].get<std::string>().empty());

  const Login assistant = service.login("assistant");
  EXPECT_EQ(enter(service, kMathRoom, assistant)["isAssistant"], true);
  EXPECT_EQ(enter(service, kMathRoom, assistant)["son"], "-1");
  const Login student = service.login("student1");
  // Rooms not activated or under review admit others; the owner sees the status.
  const Login teacher = service.login("teacher");
  EXPECT_EQ(enter(service, kReviewRoom, student)["status"], 4);
  EXPECT_EQ(enter(service, kNotActivatedRoom, teacher)["status"], 3);
  // A visitor enters as auditor and an inspector as inspector.
  const Login inspector = service.login("inspector");
  EXPECT_EQ(enter(service, kEnglishRoom, inspector)["role"], "巡管");
  const Login student4 = service.login("student4");
  EXPECT_EQ(enter(service, kEnglishRoom, student4)["role"], "旁听");
  // Nobody enters for somebody else or into a room that does not exist.
  EXPECT_EQ(service.post("rms/service/room/userJoinRoom", "roomId=1001&globalId=10004",
                         student.ticket)["code"],
            403);
  EXPECT_EQ(enter(service, 4242, student)["msg"], "教室不存在！");
}

// The service judges a private room's code itself: nobody becomes a member, gets a
// credential or reads the room without it, and no answer gives the code away.
TEST(RoomTest, APrivateRoomLetsInOnlyWithItsCode) {
  ServiceHarness service;
  const Login outsider = service.login("student2");
  const Login member = service.login("student1");
  const Login teacher = service.login("teacher");
  const auto enterWith = [&](const Login& who, const char* code) {
    std::string body = "roomId=1003&globalId=" + std::to_string(who.id);
    if (code)
      body += std::string("&authCode=") + code;
    return service.post("rms/service/room/userJoinRoom", body, who.ticket);
  };
  const std::string teacherPhone = service.post("aas/service/user/findUserInfoById", "id=10001",
                                                teacher.ticket)["body"]["phone"];
  ASSERT_FALSE(teacherPhone.empty());
  for (const char* code : {static_cast<const char*>(nullptr), "", "1357", "24680"}) {
    const json a = enterWith(outsider, code);
    EXPECT_EQ(a["code"], 423) << (code ? code : "(none)");
    EXPECT_EQ(a["msg"], code && *code ? "授权码错误！" : "私密教室，需要授权码才能进入");
    EXPECT_EQ(a.dump().find("2468"), std::string::npos) << a.dump();
    EXPECT_FALSE(a.contains("room_credential"));
  }
  // Still not a member: the history and the member list stay closed to it.
  EXPECT_EQ(service.post("cs/service/chatRecord/getChatRecord", "chatRoomId=1003&page=1&rows=10",
                         outsider.ticket)["code"],
            403);
  EXPECT_EQ(enterWith(member, nullptr)["code"], 423);  // members are asked every time too

  const json in = enterWith(outsider, "2468");
  ASSERT_EQ(in["code"], 0) << in.dump();
  EXPECT_FALSE(in["room_credential"].get<std::string>().empty());
  EXPECT_EQ(in["openStyle"], "2");
  EXPECT_FALSE(in.contains("authCode"));
  EXPECT_EQ(in["phoneT"], "");
  EXPECT_EQ(in["nickNameT"], "王老师");
  EXPECT_EQ(in.dump().find("2468"), std::string::npos);
  EXPECT_EQ(in.dump().find(teacherPhone), std::string::npos);
  EXPECT_EQ(service.post("cs/service/chatRecord/getChatRecord", "chatRoomId=1003&page=1&rows=10",
                         outsider.ticket)["code"],
            0);

  // The owner's side enters without the code and sees the owner's phone.
  const json own = enterWith(teacher, nullptr);
  ASSERT_EQ(own["code"], 0) << own.dump();
  EXPECT_EQ(own["phoneT"], teacherPhone);
  EXPECT_FALSE(own.contains("authCode"));
  ASSERT_EQ(service.post("rms/service/manage/addManage",
                         "roomId=1003&globalId=10005&createGlobalId=10001", teacher.ticket)["code"],
            0);
  const Login assistant = service.login("student3");
  const json helper = enterWith(assistant, nullptr);
  ASSERT_EQ(helper["code"], 0) << helper.dump();
  EXPECT_EQ(helper["phoneT"], teacherPhone);

  // Guessing is slowed: after five wrong codes even the right one waits five minutes.
  const Login guesser = service.login("student4");
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(enterWith(guesser, "0000")["code"], 423);
  const json blocked = enterWith(guesser, "2468");
  EXPECT_EQ(blocked["code"], 1);
  EXPECT_FALSE(blocked.contains("room_credential"));
  service.clock().advance(5 * 60 * 1000 + 1000);
  EXPECT_EQ(enterWith(guesser, "2468")["code"], 0);
}

TEST(RoomTest, HeartbeatAnswersMinusOneAfterNinetySecondsOfSilence) {
  ServiceHarness service;
  const Login student = service.login("student1");
  const Login teacher = service.login("teacher");
  EXPECT_EQ(heartbeat(service, kMathRoom, student)["code"], -1);  // never entered
  ASSERT_EQ(enter(service, kMathRoom, student)["code"], 0);
  ASSERT_EQ(enter(service, kMathRoom, teacher)["code"], 0);
  EXPECT_EQ(onlineIds(service, kMathRoom, teacher), (std::set<uint32_t>{kStudent1, kTeacher}));

  // Reports every 30 s keep the member present.
  for (int i = 0; i < 4; ++i) {
    service.clock().advance(30 * 1000);
    EXPECT_EQ(heartbeat(service, kMathRoom, student)["code"], 0);
  }
  // The teacher stayed silent for 120 s: no longer counted, and told so.
  EXPECT_EQ(onlineIds(service, kMathRoom, teacher), (std::set<uint32_t>{kStudent1}));
  EXPECT_EQ(heartbeat(service, kMathRoom, teacher, 1)["code"], -1);
  // Exactly at 90 s the member still counts; just after, no longer.
  service.clock().advance(90 * 1000);
  EXPECT_EQ(onlineIds(service, kMathRoom, teacher), (std::set<uint32_t>{kStudent1}));
  service.clock().advance(1);
  const json late = heartbeat(service, kMathRoom, student);
  EXPECT_EQ(late["code"], -1);
  EXPECT_FALSE(late["msg"].get<std::string>().empty());
  // Entering again (what the client does on -1) makes the member present again.
  ASSERT_EQ(enter(service, kMathRoom, student)["code"], 0);
  EXPECT_EQ(heartbeat(service, kMathRoom, student)["code"], 0);
}

TEST(RoomTest, MemberObjectsUnnestIntoRolesAssistantAndMuteFlags) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  for (const char* name : {"student1", "assistant", "auditor"})
    enter(service, kMathRoom, service.login(name));
  service.post("rms/service/room/addRoomBlack",
               "globalId=10008&roomId=1001&type=1&optionUser=10001", teacher.ticket);
  const json a =
      service.post("rms/service/room/findRoomOnlineUser", "roomId=1001", teacher.ticket, true);
  ASSERT_EQ(a["onlineUser"].size(), 3u);
  std::map<uint32_t, json> byId;
  for (const auto& m : a["onlineUser"])
    byId[m["globalId"].get<uint32_t>()] = m;
  EXPECT_EQ(byId[kStudent1]["role"], "学生");
  EXPECT_EQ(byId[kStudent1]["medals"], "积极发言");
  EXPECT_EQ(byId[kAssistant]["isAssistant"], true);
  EXPECT_EQ(byId[kAuditor]["role"], "旁听");
  EXPECT_EQ(byId[kAuditor]["sendFlag"], 0);
  EXPECT_EQ(byId[kStudent1]["sendFlag"], 1);

  const json type = service.post("rms/service/room/findRoomUserTypeById",
                                 "roomId=1001&globalId=10001", teacher.ticket, true);
  EXPECT_EQ(type["body"]["role"], "老师");
  EXPECT_EQ(type["body"]["nickName"], "王老师");
  EXPECT_EQ(service.post("rms/service/room/findRoomUserTypeById", "roomId=1001&globalId=77",
                         teacher.ticket, true)["code"],
            404);
}

TEST(RoomTest, OnlyTheOwnerChangesTheEntryRule) {
  ServiceHarness service;
  const Login student = service.login("student1");
  const Login teacher = service.login("teacher");
  json a = service.post("rms/service/room/updateRoom", "roomId=1001&openStyle=2&authCode=1234",
                        student.ticket);
  EXPECT_EQ(a["code"], 403);
  EXPECT_EQ(a["msg"], "没有权限！");
  a = service.post("rms/service/room/updateRoom", "roomId=1001&openStyle=2&authCode=1234567",
                   teacher.ticket);
  EXPECT_EQ(a["code"], 400);
  a = service.post("rms/service/room/updateRoom", "roomId=1001&openStyle=2", teacher.ticket);
  EXPECT_EQ(a["msg"], "缺少参数：authCode");
  EXPECT_EQ(service.post("rms/service/room/updateRoom", "roomId=1001&openStyle=2&authCode=9876",
                         teacher.ticket)["code"],
            0);
  EXPECT_EQ(enter(service, kMathRoom, student)["code"], 423);
  a = service.post("rms/service/room/userJoinRoom", "roomId=1001&globalId=10003&authCode=9876",
                   student.ticket);
  EXPECT_EQ(a["openStyle"], "2");
  EXPECT_EQ(service.post("rms/service/room/updateRoom", "roomId=1001&openStyle=1",
                         teacher.ticket)["code"],
            0);
  EXPECT_EQ(enter(service, kMathRoom, student)["code"], 0);
  // The assistant may not change it either.
  const Login assistant = service.login("assistant");
  EXPECT_EQ(service.post("rms/service/room/updateRoom", "roomId=1001&openStyle=1",
                         assistant.ticket)["code"],
            403);
}

// The room list is written as text; it must say exactly what the tree would.
TEST(RoomTest, RoomCardTextIsTheTreesDump) {
  tavsvc::RoomRow room;
  room.id = 4294967295u;
  room.ownerId = 10001;
  room.name = "引号\"与\\反斜杠\n换行";
  room.synopsis = std::string("控制\x01\x1f字符 \xF0\x9F\x98\x80");
  room.tag = "";
  room.usableNumbers = -3;
  room.status = 4;
  room.openStyle = 2;
  room.authCode = "2468";
  room.planStart = "2026.12.08 19:00";
  room.planEnd = "2026.12.08 20:30";
  room.posterPath = "/poster/room-1.bmp";
  for (bool secrets : {false, true})
    for (bool inClass : {false, true}) {
      std::string text;
      ASSERT_TRUE(tavsvc::appendRoomCardText(text, room, secrets, inClass));
      json tree = tavsvc::roomJson(room, secrets);
      tree["inClass"] = inClass;
      EXPECT_EQ(text, tavsrv::dumpJson(tree));
    }
  room.tag = "\xC3\x28";  // not UTF-8: the tree's replacement rules apply instead
  std::string text = "kept";
  EXPECT_FALSE(tavsvc::appendRoomCardText(text, room, false, false));
  EXPECT_EQ(text, "kept");
}

// The member list is written as text; it must say exactly what the tree would,
// also for names the un-nesting has to be protected from.
TEST(RoomTest, MemberListTextIsTheTreesDump) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  // One after another, so the list's order (by entry) is known.
  for (const char* name :
       {"teacher", "student1", "assistant", "auditor", "inspector", "student2"}) {
    enter(service, kMathRoom, service.login(name));
    service.clock().advance(1);
  }
  service.post("rms/service/room/addRoomBlack",
               "globalId=10004&roomId=1001&type=1&optionUser=10001", teacher.ticket);
  const auto connection = tavsrv::openConnection(service.store());
  tavsrv::Connection& db = *connection;
  db.run("UPDATE users SET nick_name = ?1 WHERE id = 10004",
         std::string("引\"号{大括号}\\斜\x01杠 \xF0\x9F\x98\x80"));
  db.run("UPDATE users SET nick_name = '', phone = '13800001111' WHERE id = 10009");

  const auto res = service.raw("rms/service/room/findRoomOnlineUser", "roomId=1001",
                               {{"X-Tav-Ticket", teacher.ticket}});
  ASSERT_TRUE(res);
  const tavsvc::RoomRow room = tavsvc::loadRoom(db, kMathRoom).value();
  json expected{{"code", 0}, {"msg", ""}, {"onlineUser", json::array()}};
  for (uint32_t id : {kTeacher, kStudent1, kAssistant, kAuditor, kInspector, kStudent2})
    expected["onlineUser"].push_back(
        tavsrv::embedObject(tavsvc::memberJson(db, room, tavsvc::loadUser(db, id).value())));
  EXPECT_EQ(res->body, tavsrv::dumpJson(expected));
  // And it still unnests into the objects the classroom reads.
  const json a = json::parse(tavsrv::unnest(res->body));
  ASSERT_EQ(a["onlineUser"].size(), 6u);
  EXPECT_EQ(a["onlineUser"][5]["sendFlag"], 0);
}
