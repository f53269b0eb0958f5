// Malformed, hostile and oversized requests: a clear refusal, nothing changed,
// no crash, and the store stays intact.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ServiceHarness.h"
#include "tavsrv/Database.h"
#include "tavsrv/Form.h"

using namespace tavtest;

namespace {
const std::vector<std::string> kPaths = {"aas/service/user/login",
                                         "aas/service/user/putRedis",
                                         "aas/service/user/findUserInfoById",
                                         "aas/service/user/saveScores",
                                         "aas/service/system/querySettings",
                                         "svs/service/software/getSoftwareVersionsTop",
                                         "rms/service/room/findRoomByGlobalId",
                                         "rms/service/room/findMyJoinRoom",
                                         "rms/service/room/userJoinRoom",
                                         "rms/service/room/openRoom",
                                         "rms/service/room/heartbeat",
                                         "rms/service/room/findRoomOnlineUser",
                                         "rms/service/room/findRoomUserTypeById",
                                         "rms/service/room/selectJoinRoomByRoomId",
                                         "rms/service/room/updateRoom",
                                         "rms/service/room/addRoomBlack",
                                         "rms/service/room/removeRoomBlack",
                                         "rms/service/room/findRoomAnnouncementByRoomIdTop",
                                         "rms/service/room/findRoomAnnouncementByRoomId",
                                         "rms/service/room/insertAnnouncement",
                                         "rms/service/room/deleteAnnouncement",
                                         "rms/service/appoint/selectAppointCourseInfoPageById",
                                         "rms/service/manage/findManageById",
                                         "rms/service/manage/addManage",
                                         "rms/service/manage/removeManagePC",
                                         "rms/service/gift/findAll",
                                         "rms/service/medal/findAll",
                                         "rms/service/userMedal/findCounterByRoomId",
                                         "rms/service/userMedal/addUserMedal",
                                         "rms/service/roomAssociated/addRoomAssociated",
                                         "rms/service/roomAssociated/deleteRoomAssociated",
                                         "rms/service/roomAssociated/selectRoomAssociatedByIds",
                                         "rms/service/roomSharing/GetSharingInfo",
                                         "rms/service/roomSharing/AddSharingInfo",
                                         "rms/service/roomSharing/DelSharingInfo",
                                         "rms/service/roomSharing/MoveSharingTop",
                                         "rms/service/roomSharing/updateRoomSharingInfo",
                                         "rms/service/courseware/findCoursewareByRoomId",
                                         "rms/service/courseware/findById",
                                         "rms/service/courseware/findbyName",
                                         "rms/service/courseware/updateRoomCourseware",
                                         "rms/service/courseware/deleteCourseware",
                                         "mbs/service/coursewareOrder/addOrderInfo",
                                         "mbs/service/consume/addConsume",
                                         "mbs/service/recharge/getRechargeInfo",
                                         "mbs/service/order/findbyId",
                                         "cs/service/chatRecord/getChatRecord",
                                         "cds/service/bulletinInfo/getBulletinInfoPage",
                                         "cds/service/notificationInfo/findNotificationInfoPage",
                                         "cds/service/recommend/recommend",
                                         "report/service/roomReport/addHistory",
                                         "internal/chatRecord/add",
                                         "internal/courseware/add"};

const std::vector<std::string> kFields = {
    "userName",       "userPwd",     "globalId",     "id",           "param",
    "type",           "roomId",      "flag",         "page",         "rows",
    "openStyle",      "authCode",    "optionUser",   "announcement", "title",
    "createGlobalId", "medalId",     "sharingName",  "fileName",     "coursewareName",
    "price",          "description", "coursewareId", "payWay",       "consumeGlobalId",
    "ticketId",       "giftId",      "count",        "money",        "orderId",
    "chatRoomId",     "userId",      "date",         "typeId",       "content",
    "roomid",         "typename",    "discount",     "videoPath"};

std::string everyField(const std::string& value) {
  std::string body;
  for (const auto& field : kFields)
    body += (body.empty() ? "" : "&") + field + "=" + tavsrv::percentEncode(value);
  return body;
}

struct Snapshot {
  int64_t users, rooms, balance, blacklist, announcements, chats;
  bool operator==(const Snapshot& o) const {
    return users == o.users && rooms == o.rooms && balance == o.balance &&
           blacklist == o.blacklist && announcements == o.announcements && chats == o.chats;
  }
};

Snapshot snapshot(tavsrv::Connection& db) {
  return Snapshot{db.queryInt("SELECT COUNT(*) FROM users").value(),
                  db.queryInt("SELECT COUNT(*) FROM rooms").value(),
                  db.queryInt("SELECT SUM(balance_cents) FROM users").value(),
                  db.queryInt("SELECT COUNT(*) FROM room_blacklist").value(),
                  db.queryInt("SELECT COUNT(*) FROM announcements").value(),
                  db.queryInt("SELECT COUNT(*) FROM chat_records").value()};
}
}  // namespace

TEST(RobustnessTest, MalformedBodiesOnEveryPathAreRefusedAndChangeNothing) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const auto connection = tavsrv::openConnection(service.store());
  tavsrv::Connection& db = *connection;
  const Snapshot before = snapshot(db);
  const std::vector<std::string> bodies = {"%",
                                           "a=%zz",
                                           "roomId=%FF%FE",
                                           "=",
                                           "roomId=1&roomId",
                                           std::string("roomId=1\0&x=2", 13),
                                           everyField("1' OR '1'='1"),
                                           everyField("1; DROP TABLE users; --"),
                                           everyField("-1"),
                                           everyField("99999999999999999999"),
                                           everyField("0x10"),
                                           everyField(""),
                                           everyField(std::string(3000, '9')),
                                           everyField("\"}{\\"),
                                           everyField("1e5")};
  for (const auto& path : kPaths) {
    for (const auto& body : bodies) {
      SCOPED_TRACE(path + " <- " + body.substr(0, 60));
      auto res = service.raw(path, body,
                             {{"X-Tav-Ticket", teacher.ticket},
                              {"X-Tav-Internal-Token", ServiceHarness::kInternalToken}});
      ASSERT_TRUE(res) << "no answer";
      const json answer = json::parse(tavsrv::unnest(res->body), nullptr, false);
      ASSERT_FALSE(answer.is_discarded()) << res->body;
      if (answer.is_object() && answer.contains("code") && answer["code"] != 0) {
        EXPECT_FALSE(answer["msg"].get<std::string>().empty());
      }
    }
  }
  // Nothing the refused requests carried reached the store.
  EXPECT_EQ(snapshot(db), before);
  EXPECT_EQ(tavsrv::integrityCheck(db), "ok");
  EXPECT_EQ(service.login("student1").id, kStudent1);
}

TEST(RobustnessTest, SqlMetacharactersInTextsAreStoredAsText) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const std::string hostile = "x'); DROP TABLE users; -- \" OR 1=1 /*";
  ASSERT_EQ(service.post("rms/service/room/insertAnnouncement",
                         form({{"roomId", "1002"}, {"announcement", hostile}, {"title", "'; --"}}),
                         teacher.ticket)["code"],
            0);
  const json top = service.post("rms/service/room/findRoomAnnouncementByRoomIdTop", "roomId=1002",
                                teacher.ticket);
  EXPECT_EQ(top[0]["announcementInfo"], hostile);
  EXPECT_EQ(top[0]["title"], "'; --");
  json a = service.post("rms/service/courseware/findbyName",
                        form({{"roomId", "1001"}, {"coursewareName", "' OR '1'='1"}}));
  EXPECT_EQ(a["code"], 404);
  a = service.post("aas/service/user/login",
                   form({{"userName", "' OR 1=1 --"}, {"userPwd", "x' OR '1'='1"}}), "", true);
  EXPECT_EQ(a["code"], 1);
  const auto connection = tavsrv::openConnection(service.store());
  tavsrv::Connection& db = *connection;
  EXPECT_EQ(db.queryInt("SELECT COUNT(*) FROM users").value(), 9);
}

// The headers announce 2 MiB and no body follows: the refusal must come anyway.
std::string announceBigBody(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    return "";
  const std::string request =
      "POST /rms/service/room/findRoomOnlineUser HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
      "2097152\r\n\r\nroomId=1001";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, 20000) > 0) {
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0)
      break;
    answer.append(buffer, static_cast<size_t>(n));
    if (answer.find("}") != std::string::npos)
      break;
  }
  ::close(fd);
  return answer;
}

TEST(RobustnessTest, OversizedBodiesAreRefusedBeforeTheyAreRead) {
  ServiceHarness service;
  const std::string answer = announceBigBody(service.port());
  EXPECT_EQ(answer.rfind("HTTP/1.1 413", 0), 0u) << answer;
  EXPECT_NE(answer.find("请求内容过大！"), std::string::npos);
  // Sent in full, the client may see the refusal or just a closed connection.
  for (size_t size : {size_t(9000), size_t(2) << 20}) {
    auto res = service.raw("rms/service/room/findRoomOnlineUser",
                           "roomId=1001&x=" + std::string(size, 'a'));
    if (res) {
      EXPECT_EQ(res->status, 413);
    }
    // Without the form content type the service's own check refuses it the same way.
    res = service.raw("rms/service/room/findRoomOnlineUser",
                      "roomId=1001&x=" + std::string(size, 'a'), {{"Content-Type", "text/plain"}});
    if (res) {
      EXPECT_EQ(res->status, 413);
    }
  }
  // Just below the limit is read and answered.
  auto res =
      service.raw("rms/service/room/findRoomOnlineUser", "roomId=1001&x=" + std::string(8000, 'a'),
                  {{"X-Tav-Ticket", service.login("teacher").ticket}});
  ASSERT_TRUE(res);
  EXPECT_EQ(json::parse(res->body)["code"], 0);
  // Unknown paths answer in the same shape.
  res = service.raw("rms/service/room/nothingHere", "");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
  EXPECT_EQ(json::parse(res->body)["code"], 404);
  // The service still answers.
  EXPECT_EQ(service.post("rms/service/gift/findAll", "")["code"], 0);
}
