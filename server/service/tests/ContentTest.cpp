#include <gtest/gtest.h>

#include "ServiceHarness.h"
#include "tavsrv/Clock.h"

using namespace tavtest;

namespace {
httplib::Result addChat(ServiceHarness& s, const std::string& body, const std::string& token) {
  httplib::Headers headers;
  if (!token.empty())
    headers.emplace("X-Tav-Internal-Token", token);
  return s.raw("internal/chatRecord/add", body, headers);
}
}  // namespace

TEST(ContentTest, ChatHistoryPagesNewestFirstAndFilters) {
  ServiceHarness service;
  const Login reader = service.login("teacher");  // owns the rooms read below
  // The handoff needs the internal token.
  auto res = addChat(service, "chatRoomId=1002&userId=10003&typeId=0&content=x", "");
  ASSERT_TRUE(res);
  EXPECT_EQ(json::parse(res->body)["code"], 403);
  res = addChat(service, "chatRoomId=1002&userId=10003&typeId=0&content=x", "wrong");
  EXPECT_EQ(json::parse(res->body)["code"], 403);

  std::vector<int64_t> ids;
  for (int i = 0; i < 25; ++i) {
    const uint32_t sender = i % 2 ? kStudent1 : kStudent2;
    const json message{{"typeId", "0"},        {"content", "消息" + std::to_string(i)},
                       {"sendUserId", sender}, {"sendUsername", "x"},
                       {"sendUserRole", "2"},  {"sendUserImg", "avatar/a.bmp"},
                       {"roomId", "1002"},     {"msgSendTime", "2025-01-01 10:00:00"}};
    if (i == 20)
      service.clock().advance(24LL * 3600 * 1000);  // the last five arrive a day later
    res = addChat(service,
                  form({{"chatRoomId", "1002"},
                        {"userId", std::to_string(sender)},
                        {"typeId", "0"},
                        {"content", message.dump()}}),
                  ServiceHarness::kInternalToken);
    ASSERT_TRUE(res);
    const json a = json::parse(res->body);
    ASSERT_EQ(a["code"], 0) << res->body;
    ids.push_back(a["body"]["id"]);
  }
  // Page 1 holds the 10 newest, newest first; the records keep the message's keys.
  json page = service.post("cs/service/chatRecord/getChatRecord", "chatRoomId=1002&page=1&rows=10",
                           reader.ticket);
  ASSERT_EQ(page["result"].size(), 10u);
  EXPECT_EQ(page["result"][0]["id"], ids[24]);
  EXPECT_EQ(page["result"][0]["content"], "消息24");
  EXPECT_EQ(page["result"][9]["id"], ids[15]);
  EXPECT_EQ(page["hasNext"], true);
  page = service.post("cs/service/chatRecord/getChatRecord", "chatRoomId=1002&rows=10&page=3",
                      reader.ticket);
  EXPECT_EQ(page["result"].size(), 5u);
  EXPECT_EQ(page["hasNext"], false);
  EXPECT_TRUE(service
                  .post("cs/service/chatRecord/getChatRecord", "chatRoomId=1002&rows=10&page=4",
                        reader.ticket)["result"]
                  .empty());
  // Filters: one sender, one day.
  page = service.post("cs/service/chatRecord/getChatRecord",
                      "chatRoomId=1002&rows=100&page=1&userId=10003", reader.ticket);
  EXPECT_EQ(page["result"].size(), 12u);
  for (const auto& r : page["result"])
    EXPECT_EQ(r["sendUserId"], kStudent1);
  const std::string today = tavsrv::formatLocalTime(service.clock().nowMs(), "%Y-%m-%d");
  page = service.post("cs/service/chatRecord/getChatRecord",
                      "chatRoomId=1002&rows=3&page=1&userId=10004&date=" + today, reader.ticket);
  EXPECT_EQ(page["result"].size(), 3u);  // 20, 22, 24 arrived today
  EXPECT_EQ(page["hasNext"], false);
  EXPECT_EQ(service.post("cs/service/chatRecord/getChatRecord",
                         "chatRoomId=1002&rows=3&page=1&date=2025-13", reader.ticket)["code"],
            400);
  // A message that is not a JSON object is kept as text; unknown types are refused.
  res = addChat(service, "chatRoomId=1003&userId=10003&typeId=10&content=pic.png",
                ServiceHarness::kInternalToken);
  EXPECT_EQ(json::parse(res->body)["code"], 0);
  page = service.post("cs/service/chatRecord/getChatRecord", "chatRoomId=1003&rows=10&page=1",
                      reader.ticket);
  EXPECT_EQ(page["result"][0]["content"], "pic.png");
  EXPECT_EQ(page["result"][0]["typeId"], "10");
  EXPECT_EQ(page["result"][0]["sendUsername"], "张小明");
  res = addChat(service, "chatRoomId=1003&userId=10003&typeId=30&content=x",
                ServiceHarness::kInternalToken);
  EXPECT_EQ(json::parse(res->body)["code"], 400);
}

// The message server relays a chat only once it is stored here, so these
// refusals are what keeps a muted member or an auditor silent in the room.
TEST(ContentTest, ChatIsStoredOnlyForMembersWhoMayChat) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const Login& reader = teacher;
  auto chat = [&](uint32_t room, uint32_t user, const std::string& content) {
    const auto res = addChat(service,
                             form({{"chatRoomId", std::to_string(room)},
                                   {"userId", std::to_string(user)},
                                   {"typeId", "0"},
                                   {"content", content}}),
                             ServiceHarness::kInternalToken);
    return res ? json::parse(res->body, nullptr, false)["code"] : json();
  };
  auto moderate = [&](const char* action, uint32_t user, int type) {
    return service.post(std::string("rms/service/room/") + action,
                        form({{"globalId", std::to_string(user)},
                              {"roomId", "1001"},
                              {"type", std::to_string(type)},
                              {"optionUser", "10001"}}),
                        teacher.ticket)["code"];
  };
  const std::string text = R"({"typeId":"0","content":"hi"})";
  EXPECT_EQ(chat(kMathRoom, kAuditor, text), 403);
  EXPECT_EQ(chat(kPrivateRoom, kStudent2, text), 403);  // not a member there
  EXPECT_EQ(chat(4242, kStudent2, text), 404);
  EXPECT_EQ(chat(kMathRoom, kTeacher, text), 0);
  ASSERT_EQ(moderate("addRoomBlack", kStudent3, 1), 0);  // mute
  EXPECT_EQ(chat(kMathRoom, kStudent3, text), 403);
  ASSERT_EQ(moderate("removeRoomBlack", kStudent3, 1), 0);
  EXPECT_EQ(chat(kMathRoom, kStudent3, text), 0);
  ASSERT_EQ(moderate("addRoomBlack", kStudent4, 2), 0);  // removal
  EXPECT_EQ(chat(kMathRoom, kStudent4, text), 403);
  service.clock().advance(16 * 60 * 1000);
  EXPECT_EQ(chat(kMathRoom, kStudent4, text), 0);

  // Only refused chat is missing, and the sender named inside is the one vouched for.
  EXPECT_EQ(chat(kMathRoom, kStudent1,
                 R"({"typeId":"0","sendUserId":10001,"sendUsername":"王老师","content":"x"})"),
            0);
  const json page = service.post("cs/service/chatRecord/getChatRecord",
                                 "chatRoomId=1001&page=1&rows=4", reader.ticket);
  ASSERT_EQ(page["result"].size(), 4u);
  EXPECT_EQ(page["result"][0]["sendUserId"], kStudent1);
  EXPECT_NE(page["result"][0]["sendUsername"], "王老师");
  EXPECT_EQ(page["result"][1]["sendUserId"], kStudent4);
  EXPECT_EQ(page["result"][2]["sendUserId"], kStudent3);
  EXPECT_EQ(page["result"][3]["sendUserId"], kTeacher);
}

TEST(ContentTest, UsageReportsComeFromTheMemberItselfWithinItsBudget) {
  ServiceHarness service;
  const Login student = service.login("student1");
  const auto report = [&](const std::string& body, const std::string& ticket) {
    return service.post("report/service/roomReport/addHistory", body, ticket)["code"];
  };
  for (const char* type : {"chat", "hands", "tag", "tool"})
    EXPECT_EQ(report(std::string("type=") + type + "&roomId=1001&globalId=10003", student.ticket),
              0);
  EXPECT_EQ(report("type=gift&roomId=1001&globalId=10003&count=178", student.ticket), 0);
  EXPECT_EQ(report("type=dance&roomId=1001&globalId=10003", student.ticket), 400);
  EXPECT_EQ(report("type=gift&roomId=1001&globalId=10003&count=10001", student.ticket), 400);
  EXPECT_EQ(report("type=chat&roomId=9&globalId=10003", student.ticket), 404);
  // Not for someone else, not without a login, not about a room one is no member of.
  EXPECT_EQ(report("type=chat&roomId=1001&globalId=10004", student.ticket), 403);
  EXPECT_EQ(report("type=chat&roomId=1001&globalId=10003", ""), 401);
  EXPECT_EQ(report("type=chat&roomId=1007&globalId=10003", student.ticket), 403);
  // A member's budget runs out within the hour and comes back after it.
  int accepted = 5;
  while (accepted < 5000 && report("type=hands&roomId=1001&globalId=10003", student.ticket) == 0)
    ++accepted;
  EXPECT_EQ(accepted, 1200);
  EXPECT_EQ(report("type=hands&roomId=1001&globalId=10003", service.login("student1").ticket), 1);
  service.clock().advance(60 * 60 * 1000);
  EXPECT_EQ(report("type=hands&roomId=1001&globalId=10003", student.ticket), 0);
}

TEST(ContentTest, ChatHistoryIsForTheRoomsOwnPeople) {
  ServiceHarness service;
  const std::string body = "chatRoomId=1001&page=1&rows=10";
  const json forMember =
      service.post("cs/service/chatRecord/getChatRecord", body, service.login("student1").ticket);
  EXPECT_EQ(forMember["code"], 0);
  EXPECT_FALSE(forMember["result"].empty());
  EXPECT_EQ(service.post("cs/service/chatRecord/getChatRecord", body)["code"], 401);
  // student2 never joined room 1008.
  const json forStranger =
      service.post("cs/service/chatRecord/getChatRecord", "chatRoomId=1008&page=1&rows=10",
                   service.login("student2").ticket);
  EXPECT_EQ(forStranger["code"], 403);
  EXPECT_EQ(forStranger.value("result", json::array()).size(), 0u);
}

TEST(ContentTest, SharedDocumentsKeepTheirOrderAndNames) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const auto add = [&](const std::string& name, const std::string& file) {
    return service.post(
        "rms/service/roomSharing/AddSharingInfo",
        form({{"roomId", "1002"}, {"sharingName", name}, {"fileName", file}, {"page", "5"}}),
        teacher.ticket);
  };
  const int first = add("第一课", "lesson1")["id"];
  const int second = add("第二课", "lesson2")["id"];
  json docs = service.post("rms/service/roomSharing/GetSharingInfo", "roomId=1002", teacher.ticket);
  ASSERT_EQ(docs["body"].size(), 2u);
  EXPECT_EQ(docs["body"][0]["id"], second);  // the newest on top
  ASSERT_EQ(service.post("rms/service/roomSharing/MoveSharingTop",
                         "id=" + std::to_string(first) + "&roomId=1002", teacher.ticket)["code"],
            0);
  docs = service.post("rms/service/roomSharing/GetSharingInfo", "roomId=1002", teacher.ticket);
  EXPECT_EQ(docs["body"][0]["id"], first);
  EXPECT_EQ(service.post("rms/service/roomSharing/MoveSharingTop",
                         "id=" + std::to_string(first) + "&roomId=1001", teacher.ticket)["code"],
            404);
  // File names become folder names on the clients: no separators or parents.
  EXPECT_EQ(add("x", "../etc")["code"], 400);
  EXPECT_EQ(add("x", "a/b")["code"], 400);
  EXPECT_EQ(add("x\"y", "ok")["code"], 400);
  EXPECT_EQ(
      service.post("rms/service/roomSharing/DelSharingInfo", "id=9999", teacher.ticket)["code"],
      404);
}

TEST(ContentTest, CoursewareListsCarryPlayInfoAndPages) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  json list = service.post("rms/service/courseware/findCoursewareByRoomId",
                           "roomId=1001&rows=1&page=2&globalId=10003", teacher.ticket);
  EXPECT_EQ(list["totalPages"], 2);
  ASSERT_EQ(list["rows"].size(), 1u);
  const json record = list["rows"][0];
  EXPECT_EQ(record["coursewareName"], "第一章 有理数");
  const json playInfo = json::parse(record["filePath"].get<std::string>());
  const json& renditions = playInfo["PlayInfoList"]["PlayInfo"];
  ASSERT_EQ(renditions.size(), 1u);
  EXPECT_EQ(renditions[0]["Format"], "mp4");
  const std::string url = renditions[0]["PlayURL"];
  EXPECT_EQ(url, "http://127.0.0.1:" + std::to_string(service.port()) +
                     "/uds/upload/courseware/1001/demo-1.mp4");
  EXPECT_TRUE(service
                  .post("rms/service/courseware/findCoursewareByRoomId",
                        "roomId=1001&rows=10&page=9", teacher.ticket)["rows"]
                  .empty());
  // findbyName: a record when the name is taken, code 404 when it is free.
  EXPECT_EQ(
      service.post("rms/service/courseware/findbyName",
                   form({{"roomId", "1001"}, {"coursewareName", "第二章 整式"}}))["body"]["id"],
      2);
  EXPECT_EQ(service.post("rms/service/courseware/findbyName",
                         form({{"roomId", "1001"}, {"coursewareName", "新课"}}))["code"],
            404);
  // Edits are checked like the client's dialog does.
  EXPECT_EQ(service.post("rms/service/courseware/updateRoomCourseware",
                         form({{"id", "1"},
                               {"coursewareName", std::string(21, 'a')},
                               {"price", "1"},
                               {"description", ""}}),
                         teacher.ticket)["code"],
            400);
  EXPECT_EQ(service.post(
                "rms/service/courseware/updateRoomCourseware",
                form({{"id", "1"}, {"coursewareName", "a"}, {"price", "-1"}, {"description", ""}}),
                teacher.ticket)["code"],
            400);
  // The recording server publishes through the internal path.
  auto res = service.raw("internal/courseware/add",
                         form({{"roomId", "1002"},
                               {"globalId", "10001"},
                               {"coursewareName", "录像"},
                               {"price", "5"},
                               {"videoPath", "courseware/1002/rec.mp4"}}),
                         {{"X-Tav-Internal-Token", ServiceHarness::kInternalToken}});
  ASSERT_TRUE(res);
  EXPECT_EQ(json::parse(res->body)["code"], 0);
  EXPECT_EQ(service.post("rms/service/courseware/findCoursewareByRoomId",
                         "roomId=1002&rows=10&page=1", teacher.ticket)["total"],
            2);
  // A name the room has already is refused where it is stored; renditions must name http
  // addresses of plain characters.
  auto add = [&](const std::string& name, const std::string& playInfo) {
    auto r = service.raw("internal/courseware/add",
                         form({{"roomId", "1002"},
                               {"globalId", "10001"},
                               {"coursewareName", name},
                               {"price", "0"},
                               {"playInfo", playInfo}}),
                         {{"X-Tav-Internal-Token", ServiceHarness::kInternalToken}});
    return r ? json::parse(r->body) : json();
  };
  const std::string od = R"([{"Definition":"OD","PlayURL":"http://v:1/a/OD.mp4"}])";
  EXPECT_EQ(add("录像", od)["code"], 1);
  const std::string script = R"x([{"Definition":"OD","PlayURL":"javascript:alert(1)"}])x";
  EXPECT_EQ(add("录像2", script)["code"], 400);
  ASSERT_EQ(add("录像2", od)["code"], 0);
  const json listed = service.post("rms/service/courseware/findbyName",
                                   form({{"roomId", "1002"}, {"coursewareName", "录像2"}}));
  const json expected =
      json::parse(R"([{"Format":"mp4","Definition":"OD","PlayURL":"http://v:1/a/OD.mp4"}])");
  EXPECT_EQ(json::parse(listed["body"]["filePath"].get<std::string>())["PlayInfoList"]["PlayInfo"],
            expected);
}

TEST(ContentTest, AnnouncementsBulletinsAndNotifications) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  EXPECT_TRUE(
      service
          .post("rms/service/room/findRoomAnnouncementByRoomIdTop", "roomId=1002", teacher.ticket)
          .empty());
  EXPECT_EQ(
      service.post(
          "rms/service/room/insertAnnouncement",
          form({{"roomId", "1002"}, {"announcement", "内容"}, {"title", std::string(21, 'x')}}),
          teacher.ticket)["code"],
      400);
  EXPECT_EQ(service.post(
                "rms/service/room/insertAnnouncement",
                form({{"roomId", "1002"}, {"announcement", std::string(201, 'x')}, {"title", "t"}}),
                teacher.ticket)["code"],
            400);
  ASSERT_EQ(service.post("rms/service/room/insertAnnouncement",
                         form({{"roomId", "1002"},
                               {"announcement", "内容"},
                               {"title", "二十个字的标题二十个字的标题二十个字的标"}}),
                         teacher.ticket)["code"],
            0);
  const json top = service.post("rms/service/room/findRoomAnnouncementByRoomIdTop", "roomId=1002",
                                teacher.ticket);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0]["announcementInfo"], "内容");
  EXPECT_EQ(service.post("rms/service/room/deleteAnnouncement",
                         "id=" + std::to_string(top[0]["id"].get<int>()), teacher.ticket)["code"],
            0);
  EXPECT_EQ(service.post("rms/service/room/deleteAnnouncement",
                         "id=" + std::to_string(top[0]["id"].get<int>()), teacher.ticket)["code"],
            404);

  const Login student = service.login("student1");
  const json notes = service.post("cds/service/notificationInfo/findNotificationInfoPage",
                                  "globalId=10003&rows=1&page=1", student.ticket);
  EXPECT_EQ(notes["body"]["total"], 2);
  EXPECT_EQ(notes["body"]["rows"].size(), 1u);
  EXPECT_EQ(service.post("cds/service/notificationInfo/findNotificationInfoPage",
                         "globalId=10001&rows=1&page=1", student.ticket)["code"],
            403);

  const json bookings = service.post("rms/service/appoint/selectAppointCourseInfoPageById",
                                     "roomId=1001&rows=2&page=3");
  EXPECT_EQ(bookings["body"]["totalPages"], 3);
  EXPECT_EQ(bookings["body"]["rows"].size(), 1u);
  EXPECT_EQ(bookings["body"]["rows"][0]["imagePath"].get<std::string>()[0], '/');
}
