#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

#include "ServiceHarness.h"

using namespace tavtest;

namespace {
json black(ServiceHarness& s, const char* action, uint32_t target, int type, const Login& who) {
  return s.post(std::string("rms/service/room/") + action,
                form({{"globalId", std::to_string(target)},
                      {"roomId", "1001"},
                      {"type", std::to_string(type)},
                      {"optionUser", "10001"}}),
                who.ticket);
}
// Bare array answers are successes.
json codeOf(const json& answer) {
  return answer.is_array() ? json(0) : answer["code"];
}
json enter(ServiceHarness& s, const Login& who) {
  return s.post("rms/service/room/userJoinRoom",
                form({{"roomId", "1001"}, {"globalId", std::to_string(who.id)}}), who.ticket);
}
}  // namespace

TEST(ModerationTest, RemovalBansEntryForFifteenMinutes) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const Login student = service.login("student2");
  ASSERT_EQ(enter(service, student)["code"], 0);
  ASSERT_EQ(black(service, "addRoomBlack", kStudent2, 2, teacher)["code"], 0);

  // The removed member is no longer present: the next heartbeat says -1 ...
  EXPECT_EQ(service.post("rms/service/room/heartbeat", "globalId=10004&roomId=1001&type=2",
                         student.ticket)["code"],
            -1);
  // ... and entering again is refused, with the minutes left.
  json a = enter(service, student);
  EXPECT_NE(a["code"], 0);
  EXPECT_EQ(a["msg"], "您已被老师请出教室，请15分钟后再进入！");
  service.clock().advance(14 * 60 * 1000);
  EXPECT_EQ(enter(service, student)["msg"], "您已被老师请出教室，请1分钟后再进入！");
  service.clock().advance(60 * 1000 - 1);
  EXPECT_NE(enter(service, student)["code"], 0);
  service.clock().advance(1);
  EXPECT_EQ(enter(service, student)["code"], 0);

  // The owner can lift a ban early.
  ASSERT_EQ(black(service, "addRoomBlack", kStudent2, 2, teacher)["code"], 0);
  EXPECT_NE(enter(service, student)["code"], 0);
  ASSERT_EQ(black(service, "removeRoomBlack", kStudent2, 2, teacher)["code"], 0);
  EXPECT_EQ(enter(service, student)["code"], 0);
  // Other rooms are not affected by a ban.
  EXPECT_EQ(service.post("rms/service/room/userJoinRoom", "roomId=1002&globalId=10004",
                         student.ticket)["code"],
            0);
}

// While its ban lasts a removed member gets nothing of the room from the service
// either: no history (chat is stored before it is relayed), no member list, no
// files, no uploads, no reports, with its ticket or without one.
TEST(ModerationTest, ARemovedMemberGetsNothingOfTheRoomWhileBanned) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const Login student = service.login("student2");
  ASSERT_EQ(enter(service, student)["code"], 0);
  httplib::Client files("127.0.0.1", service.port());
  const auto upload = [&](const std::string& ticket, const char* name) {
    httplib::Headers headers;
    if (!ticket.empty())
      headers.emplace("X-Tav-Ticket", ticket);
    auto res = files.Post(std::string("/uds/upload?roomId=1001&userId=10004&name=") + name, headers,
                          std::string(1000, 'x'), "application/octet-stream");
    return res ? json::parse(res->body, nullptr, false) : json();
  };
  const auto fileStatus = [&](const std::string& ticket) {
    httplib::Headers headers;
    if (!ticket.empty())
      headers.emplace("X-Tav-Ticket", ticket);
    auto res = files.Get("/uds/upload/room/1001/10004/before.png", headers);
    return res ? res->status : 0;
  };
  ASSERT_EQ(upload(student.ticket, "before.png")["code"], 0);
  const std::vector<std::pair<std::string, std::string>> calls = {
      {"cs/service/chatRecord/getChatRecord", "chatRoomId=1001&page=1&rows=10"},
      {"rms/service/room/findRoomOnlineUser", "roomId=1001"},
      {"rms/service/room/findRoomUserTypeById", "roomId=1001&globalId=10001"},
      {"rms/service/room/selectJoinRoomByRoomId", "roomId=1001&flag=true&page=0"},
      {"rms/service/manage/findManageById", "roomId=1001"},
      {"rms/service/room/findRoomAnnouncementByRoomIdTop", "roomId=1001"},
      {"rms/service/room/findRoomAnnouncementByRoomId", "roomId=1001"},
      {"rms/service/userMedal/findCounterByRoomId", "roomId=1001"},
      {"rms/service/roomSharing/GetSharingInfo", "roomId=1001"},
      {"rms/service/courseware/findCoursewareByRoomId", "roomId=1001&rows=10&page=1"},
      {"report/service/roomReport/addHistory", "type=chat&roomId=1001&globalId=10004"},
      {"aas/service/user/saveScores",
       form(
           {{"param",
             R"({"uId":10004,"uRole":2,"tId":10001,"tRole":1,"roomId":1001,"score":80,"content":"x"})"}})},
  };
  for (const auto& [path, body] : calls)
    EXPECT_EQ(codeOf(service.post(path, body, student.ticket, true)), 0) << path;
  ASSERT_EQ(black(service, "addRoomBlack", kStudent2, 2, teacher)["code"], 0);

  const std::string banned = "您已被老师请出教室，请15分钟后再进入！";
  for (const auto& [path, body] : calls) {
    const json a = service.post(path, body, student.ticket, true);
    EXPECT_EQ(codeOf(a), 403) << path << " " << a.dump();
    EXPECT_EQ(a.is_object() ? a["msg"] : json(), banned) << path;
    // Leaving the ticket out does not help: room data needs a member.
    EXPECT_NE(codeOf(service.post(path, body, "", true)), 0) << path << " without a ticket";
  }
  const json refusedUpload = upload(student.ticket, "during.png");
  EXPECT_EQ(refusedUpload["code"], 403);
  EXPECT_EQ(refusedUpload["msg"], banned);
  EXPECT_FALSE(fs::exists(service.dataDir() / "data/uploads/room/1001/10004/during.png"));
  EXPECT_EQ(fileStatus(student.ticket), 403);
  EXPECT_EQ(fileStatus(teacher.ticket), 200);  // the others go on

  // When the ban is over the member reads and writes again.
  service.clock().advance(15 * 60 * 1000);
  ASSERT_EQ(enter(service, student)["code"], 0);
  for (const auto& [path, body] : calls)
    EXPECT_EQ(codeOf(service.post(path, body, student.ticket, true)), 0) << path;
  EXPECT_EQ(upload(student.ticket, "after.png")["code"], 0);
  EXPECT_EQ(fileStatus(student.ticket), 200);
}

TEST(ModerationTest, MuteAndRestoreShowInTheMemberRecord) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const auto sendFlag = [&] {
    return service.post("rms/service/room/findRoomUserTypeById", "roomId=1001&globalId=10005",
                        teacher.ticket, true)["body"]["sendFlag"];
  };
  EXPECT_EQ(sendFlag(), 1);
  ASSERT_EQ(black(service, "addRoomBlack", kStudent3, 1, teacher)["code"], 0);
  ASSERT_EQ(black(service, "addRoomBlack", kStudent3, 1, teacher)["code"], 0);  // twice is harmless
  EXPECT_EQ(sendFlag(), 0);
  // A mute does not keep the member out.
  EXPECT_EQ(enter(service, service.login("student3"))["code"], 0);
  ASSERT_EQ(black(service, "removeRoomBlack", kStudent3, 1, teacher)["code"], 0);
  EXPECT_EQ(sendFlag(), 1);
}

TEST(ModerationTest, RightsOfOwnerAssistantAndStudents) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const Login assistant = service.login("assistant");
  const Login student = service.login("student1");
  // A student moderates nobody.
  json a = black(service, "addRoomBlack", kStudent2, 1, student);
  EXPECT_EQ(a["code"], 403);
  EXPECT_EQ(a["msg"], "没有权限！");
  // The assistant mutes students, but not the teacher, another assistant or itself.
  EXPECT_EQ(black(service, "addRoomBlack", kStudent2, 1, assistant)["code"], 0);
  EXPECT_EQ(black(service, "addRoomBlack", kTeacher, 2, assistant)["code"], 403);
  EXPECT_NE(black(service, "addRoomBlack", kAssistant, 1, assistant)["code"], 0);
  // Granting the assistant right is the owner's, and at most two hold it.
  a = service.post("rms/service/manage/addManage",
                   "roomId=1001&globalId=10004&createGlobalId=10002", assistant.ticket);
  EXPECT_EQ(a["code"], 403);
  a = service.post("rms/service/manage/addManage",
                   "roomId=1001&globalId=10004&createGlobalId=10001", student.ticket);
  EXPECT_EQ(a["code"], 403);  // the body names the owner, but the caller is not the owner
  EXPECT_EQ(service.post("rms/service/manage/addManage",
                         "roomId=1001&globalId=10004&createGlobalId=10001", teacher.ticket)["code"],
            0);
  a = service.post("rms/service/manage/addManage",
                   "roomId=1001&globalId=10005&createGlobalId=10001", teacher.ticket);
  EXPECT_EQ(a["msg"], "每个教室最多设置两名助教！");
  EXPECT_EQ(service.post("rms/service/manage/findManageById", "roomId=1001", teacher.ticket).size(),
            2u);
  // An assistant cannot act on the other assistant; the owner can.
  EXPECT_EQ(black(service, "addRoomBlack", kStudent2, 2, assistant)["code"], 403);
  EXPECT_EQ(black(service, "addRoomBlack", kStudent2, 2, teacher)["code"], 0);
  // Revoking is the owner's too.
  EXPECT_EQ(service.post("rms/service/manage/removeManagePC", "roomId=1001&globalId=10004",
                         assistant.ticket)["code"],
            403);
  EXPECT_EQ(service.post("rms/service/manage/removeManagePC", "roomId=1001&globalId=10004",
                         teacher.ticket)["code"],
            0);
  EXPECT_NE(service.post("rms/service/manage/removeManagePC", "roomId=1001&globalId=10004",
                         teacher.ticket)["code"],
            0);
  const json type = service.post("rms/service/room/findRoomUserTypeById",
                                 "roomId=1001&globalId=10004", teacher.ticket, true);
  EXPECT_EQ(type["body"]["isAssistant"], false);
  // Room content follows the same rule: announcements, documents, courseware.
  EXPECT_EQ(service.post("rms/service/room/insertAnnouncement",
                         "roomId=1001&announcement=x&title=y", student.ticket)["code"],
            403);
  EXPECT_EQ(service.post("rms/service/room/insertAnnouncement",
                         "roomId=1001&announcement=x&title=y", assistant.ticket)["code"],
            0);
  EXPECT_EQ(service.post("rms/service/room/deleteAnnouncement", "id=1", student.ticket)["code"],
            403);
  EXPECT_EQ(service.post("rms/service/roomSharing/AddSharingInfo",
                         "roomId=1001&sharingName=a&fileName=a&page=1", student.ticket)["code"],
            403);
  EXPECT_EQ(service.post("rms/service/courseware/deleteCourseware", "id=1", student.ticket)["code"],
            403);
  EXPECT_EQ(service.post("rms/service/userMedal/addUserMedal",
                         "globalId=10004&medalId=1&roomId=1001", student.ticket)["code"],
            403);
  EXPECT_EQ(service.post("rms/service/room/openRoom", "roomId=1001&globalId=10003",
                         student.ticket)["code"],
            403);
}

// Moderation needs the ticket of the owner or an assistant; a teacher logged in
// from the same address lends nobody its rights.
TEST(ModerationTest, OnlyTheTicketGrantsModeration) {
  ServiceHarness service;
  const Login student = service.login("student1");
  const Login teacher = service.login("teacher");
  const std::string mute = "globalId=10004&roomId=1001&type=1&optionUser=10001";
  EXPECT_EQ(service.post("rms/service/room/addRoomBlack", mute)["code"], 401);
  EXPECT_EQ(service.post("rms/service/room/addRoomBlack", mute, student.ticket)["code"], 403);
  EXPECT_EQ(service.post("rms/service/room/addRoomBlack", mute, teacher.ticket)["code"], 0);
}

// Revoking an assistant takes its rights away with the next call, whatever it
// did as assistant before.
TEST(ModerationTest, RevokedAssistantIsRefusedEveryManagementCall) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const Login assistant = service.login("assistant");
  const auto manage = [&](const std::string& path, const std::string& body) {
    return service.post(path, body, assistant.ticket)["code"];
  };
  const std::string announce = "roomId=1001&announcement=x&title=y";
  const std::string sharing = "roomId=1001&sharingName=a&fileName=a&page=1";
  const std::string medal = "globalId=10004&medalId=1&roomId=1001";
  ASSERT_EQ(black(service, "addRoomBlack", kStudent2, 1, assistant)["code"], 0);
  ASSERT_EQ(manage("rms/service/room/insertAnnouncement", announce), 0);
  ASSERT_EQ(manage("rms/service/roomSharing/AddSharingInfo", sharing), 0);

  ASSERT_EQ(service.post("rms/service/manage/removeManagePC", "roomId=1001&globalId=10002",
                         teacher.ticket)["code"],
            0);
  EXPECT_EQ(black(service, "addRoomBlack", kStudent3, 1, assistant)["code"], 403);
  EXPECT_EQ(black(service, "addRoomBlack", kStudent3, 2, assistant)["code"], 403);
  EXPECT_EQ(black(service, "removeRoomBlack", kStudent2, 1, assistant)["code"], 403);
  EXPECT_EQ(manage("rms/service/room/insertAnnouncement", announce), 403);
  EXPECT_EQ(manage("rms/service/room/deleteAnnouncement", "id=1"), 403);
  EXPECT_EQ(manage("rms/service/roomSharing/AddSharingInfo", sharing), 403);
  EXPECT_EQ(manage("rms/service/courseware/deleteCourseware", "id=1"), 403);
  EXPECT_EQ(manage("rms/service/userMedal/addUserMedal", medal), 403);
  // Its other room is untouched.
  EXPECT_EQ(
      service.post("rms/service/room/addRoomBlack",
                   "globalId=10004&roomId=1002&type=1&optionUser=10001", assistant.ticket)["code"],
      0);
  // The mute it set stays until someone with the right lifts it.
  EXPECT_EQ(service.post("rms/service/room/findRoomUserTypeById", "roomId=1001&globalId=10004",
                         teacher.ticket, true)["body"]["sendFlag"],
            0);
}

namespace {
json removals(ServiceHarness& s, const std::string& body, bool withToken = true) {
  httplib::Headers headers;
  if (withToken)
    headers.emplace("X-Tav-Internal-Token", ServiceHarness::kInternalToken);
  auto res = s.raw("internal/room/removals", body, headers);
  if (!res)
    return json();
  return json::parse(res->body, nullptr, false);
}
bool listed(const json& answer, uint32_t room, uint32_t user) {
  for (const json& r : answer["body"]["removals"])
    if (r["roomId"] == room && r["userId"] == user)
      return true;
  return false;
}
}  // namespace

// The list the message server and the MCU follow: internal only, complete with
// every answer, and a question holding the current version is answered when a
// removal changes it.
TEST(ModerationTest, RemovalListFollowsRemovalsLiftsAndExpiry) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  EXPECT_EQ(removals(service, "", false)["code"], 403);

  json first = removals(service, "");
  ASSERT_EQ(first["code"], 0) << first.dump();
  EXPECT_TRUE(first["body"]["removals"].empty());
  const std::string v0 = first["body"]["version"];

  // A mute is not a removal: the version stays.
  ASSERT_EQ(black(service, "addRoomBlack", kStudent3, 1, teacher)["code"], 0);
  EXPECT_EQ(removals(service, "")["body"]["version"], v0);

  json waited;
  std::thread follower([&] {
    // A client of its own: the harness's client is not shared between threads.
    httplib::Client client("127.0.0.1", service.port());
    client.set_read_timeout(60, 0);
    auto res = client.Post(
        "/internal/room/removals", {{"X-Tav-Internal-Token", ServiceHarness::kInternalToken}},
        form({{"version", v0}, {"waitMs", "20000"}}), "application/x-www-form-urlencoded");
    if (res)
      waited = json::parse(res->body, nullptr, false);
  });
  ASSERT_EQ(black(service, "addRoomBlack", kStudent2, 2, teacher)["code"], 0);
  follower.join();
  ASSERT_EQ(waited["code"], 0) << waited.dump();
  EXPECT_NE(waited["body"]["version"], v0);
  ASSERT_TRUE(listed(waited, 1001, kStudent2)) << waited.dump();
  EXPECT_EQ(waited["body"]["removals"][0]["leftMs"], 15 * 60 * 1000);

  service.clock().advance(10 * 60 * 1000);
  EXPECT_EQ(removals(service, "")["body"]["removals"][0]["leftMs"], 5 * 60 * 1000);
  // Lifted early: gone, with a new version.
  ASSERT_EQ(black(service, "removeRoomBlack", kStudent2, 2, teacher)["code"], 0);
  json lifted = removals(service, "");
  EXPECT_NE(lifted["body"]["version"], waited["body"]["version"]);
  EXPECT_FALSE(listed(lifted, 1001, kStudent2));
  // Run out: no longer listed.
  ASSERT_EQ(black(service, "addRoomBlack", kStudent2, 2, teacher)["code"], 0);
  EXPECT_TRUE(listed(removals(service, ""), 1001, kStudent2));
  service.clock().advance(15 * 60 * 1000);
  EXPECT_FALSE(listed(removals(service, ""), 1001, kStudent2));
  EXPECT_EQ(removals(service, "waitMs=20001")["code"], 400);
}
