// Every path of the catalogue answers a well-formed request in the shape the
// client reads.
#include <gtest/gtest.h>

#include <functional>

#include "ServiceHarness.h"

using namespace tavtest;

namespace {
struct Case {
  std::string path;
  std::string body;
  std::function<void(const json&)> check;
  bool unnest = false;
};

void isSuccess(const json& a) {
  ASSERT_TRUE(a.is_object()) << a.dump();
  EXPECT_EQ(a["code"], 0) << a.dump();
  EXPECT_TRUE(a.contains("msg"));
}

void hasKeys(const json& object, std::initializer_list<const char*> keys) {
  ASSERT_TRUE(object.is_object()) << object.dump();
  for (const char* key : keys)
    EXPECT_TRUE(object.contains(key)) << key << " missing in " << object.dump();
}
}  // namespace

TEST(CatalogueTest, EveryPathAnswersInItsShape) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const Login student = service.login("student1");
  // Some answers depend on earlier calls: the student enters the room first.
  ASSERT_EQ(service.post("rms/service/room/userJoinRoom",
                         form({{"roomId", "1001"}, {"globalId", "10003"}}), student.ticket)["code"],
            0);

  const std::vector<Case> cases = {
      {"aas/service/user/putRedis", "globalId=10001",
       [](const json& a) {
         isSuccess(a);
         EXPECT_EQ(a["body"].get<std::string>().size(), 32u);
       }},
      {"aas/service/user/findUserInfoById", "id=10001",
       [](const json& a) {
         isSuccess(a);
         hasKeys(a["body"], {"money", "nickName", "imagePath"});
         EXPECT_TRUE(a["body"]["money"].is_number());
       }},
      {"aas/service/system/querySettings", "type=3",
       [](const json& a) {
         isSuccess(a);
         hasKeys(a["body"], {"discount", "typename"});
       }},
      {"svs/service/software/getSoftwareVersionsTop", "type=pc",
       [](const json& a) {
         isSuccess(a);
         EXPECT_FALSE(a["info"].get<std::string>().empty());
         EXPECT_EQ(a["url"].get<std::string>().rfind("http://127.0.0.1:", 0), 0u) << a["url"];
       }},
      {"rms/service/room/findRoomByGlobalId", "globalId=10001",
       [](const json& a) {
         isSuccess(a);
         ASSERT_TRUE(a["body"].is_array());
         ASSERT_GE(a["body"].size(), 7u);
         hasKeys(a["body"][0],
                 {"id", "globalId", "authCode", "openStyle", "imagePath", "planStartDate",
                  "planEndDate", "roomName", "roomSynopsis", "tag", "usableNumbers"});
         EXPECT_TRUE(a["body"][0]["openStyle"].is_string());
       }},
      {"rms/service/room/findMyJoinRoom", "globalId=10003",
       [](const json& a) {
         isSuccess(a);
         ASSERT_GE(a["body"].size(), 4u);
         hasKeys(a["body"][0], {"id", "roomId", "nickName", "roomName", "imagePath"});
       }},
      {"rms/service/room/openRoom", "roomId=1001&globalId=10001", isSuccess},
      {"rms/service/room/heartbeat", "globalId=10001&roomId=1001&type=1",
       [](const json& a) { EXPECT_EQ(a["code"], -1) << "the teacher never entered"; }},
      {"rms/service/room/findRoomOnlineUser", "roomId=1001",
       [](const json& a) {
         isSuccess(a);
         ASSERT_TRUE(a["onlineUser"].is_array());
         ASSERT_EQ(a["onlineUser"].size(), 1u);
         hasKeys(a["onlineUser"][0],
                 {"role", "isAssistant", "level", "nickName", "medals", "globalId", "sendFlag"});
       },
       true},
      {"rms/service/room/findRoomUserTypeById", "roomId=1001&globalId=10002",
       [](const json& a) {
         isSuccess(a);
         hasKeys(a["body"], {"role", "isAssistant", "nickName", "globalId"});
         EXPECT_EQ(a["body"]["isAssistant"], true);
       },
       true},
      {"rms/service/room/selectJoinRoomByRoomId", "roomId=1001&flag=true&page=0",
       [](const json& a) {
         ASSERT_TRUE(a.is_array()) << a.dump();
         ASSERT_GE(a.size(), 6u);
         hasKeys(a[0], {"globalId", "nickName"});
       }},
      {"rms/service/room/updateRoom", "roomId=1002&openStyle=2&authCode=1234", isSuccess},
      {"rms/service/room/findRoomAnnouncementByRoomIdTop", "roomId=1001",
       [](const json& a) {
         ASSERT_TRUE(a.is_array());
         ASSERT_EQ(a.size(), 1u);
         hasKeys(a[0], {"id", "title", "announcementInfo", "createTime"});
       }},
      {"rms/service/room/insertAnnouncement",
       form({{"roomId", "1001"}, {"announcement", "明天停课"}, {"title", "通知"}}), isSuccess},
      {"rms/service/room/findRoomAnnouncementByRoomId", "roomId=1001",
       [](const json& a) {
         ASSERT_TRUE(a.is_array());
         ASSERT_EQ(a.size(), 2u);
         EXPECT_EQ(a[0]["title"], "通知");  // newest first
       }},
      {"rms/service/appoint/selectAppointCourseInfoPageById", "roomId=1001&rows=10&page=1",
       [](const json& a) {
         isSuccess(a);
         hasKeys(a["body"], {"totalPages", "rows"});
         ASSERT_FALSE(a["body"]["rows"].empty());
         hasKeys(a["body"]["rows"][0], {"nickName", "imagePath"});
       }},
      {"rms/service/manage/findManageById", "roomId=1001",
       [](const json& a) {
         ASSERT_TRUE(a.is_array());
         ASSERT_EQ(a.size(), 1u);
         EXPECT_EQ(a[0]["globalId"], kAssistant);
       }},
      {"rms/service/manage/addManage", "roomId=1001&globalId=10004&createGlobalId=10001",
       isSuccess},
      {"rms/service/manage/removeManagePC", "roomId=1001&globalId=10004", isSuccess},
      {"rms/service/gift/findAll", "",
       [](const json& a) {
         isSuccess(a);
         ASSERT_GE(a["body"].size(), 3u);
         hasKeys(a["body"][0], {"id", "name", "imgPath", "money"});
       }},
      {"rms/service/medal/findAll", "",
       [](const json& a) {
         isSuccess(a);
         hasKeys(a["body"][0], {"id", "name"});
       }},
      {"rms/service/userMedal/addUserMedal", "globalId=10003&medalId=1&roomId=1001", isSuccess},
      {"rms/service/userMedal/findCounterByRoomId", "roomId=1001",
       [](const json& a) {
         isSuccess(a);
         ASSERT_FALSE(a["body"].empty());
         // [{"10003": {"nickName", "count"}}, ...], most medals first
         const json& first = a["body"][0];
         ASSERT_TRUE(first.contains("10003")) << first.dump();
         EXPECT_EQ(first["10003"]["count"], 3);
         hasKeys(first["10003"], {"nickName"});
       }},
      {"rms/service/roomAssociated/addRoomAssociated", "globalId=10001&roomId=1008", isSuccess},
      {"rms/service/roomAssociated/selectRoomAssociatedByIds", "roomId=1008&globalId=10001",
       [](const json& a) {
         isSuccess(a);
         EXPECT_EQ(a["body"]["followed"], true);
       }},
      {"rms/service/roomAssociated/deleteRoomAssociated", "globalId=10001&roomId=1008", isSuccess},
      {"rms/service/roomSharing/AddSharingInfo",
       form(
           {{"roomId", "1001"}, {"sharingName", "第一课"}, {"fileName", "lesson1"}, {"page", "3"}}),
       [](const json& a) {
         isSuccess(a);
         hasKeys(a, {"id", "fileName", "sharingName", "page"});
       }},
      {"rms/service/roomSharing/GetSharingInfo", "roomId=1001",
       [](const json& a) {
         isSuccess(a);
         ASSERT_EQ(a["body"].size(), 1u);
         hasKeys(a["body"][0], {"id", "fileName", "sharingName", "page"});
       }},
      {"rms/service/courseware/findCoursewareByRoomId", "roomId=1001&rows=10&page=1&globalId=10003",
       [](const json& a) {
         isSuccess(a);
         hasKeys(a, {"rows", "totalPages"});
         ASSERT_EQ(a["rows"].size(), 2u);
         hasKeys(a["rows"][0],
                 {"id", "coursewareName", "description", "filePath", "grade", "nickName", "price",
                  "roomId", "globalId", "playCount", "isPurchase", "purchase"});
       }},
      {"rms/service/courseware/findCoursewareByRoomId", "roomId=1001&rows=100000&page=1",
       [](const json& a) {
         isSuccess(a);
         EXPECT_EQ(a["totalPages"], 1);
       }},
      {"rms/service/courseware/findById", "id=1&globalId=10003",
       [](const json& a) {
         isSuccess(a);
         hasKeys(a["body"], {"coursewareName", "price", "isPurchase", "filePath"});
       }},
      {"rms/service/courseware/findbyName",
       form({{"roomId", "1001"}, {"coursewareName", "第一章 有理数"}}), isSuccess},
      {"rms/service/courseware/updateRoomCourseware",
       form({{"id", "1"}, {"coursewareName", "第一章"}, {"price", "0"}, {"description", "概念"}}),
       isSuccess},
      {"mbs/service/coursewareOrder/addOrderInfo", "coursewareId=2&globalId=10001&payWay=1",
       [](const json& a) {
         isSuccess(a);
         hasKeys(a["body"], {"orderId"});
       }},
      {"mbs/service/order/findbyId", "orderId=1", isSuccess},
      {"mbs/service/recharge/getRechargeInfo", "id=10001",
       [](const json& a) {
         isSuccess(a);
         hasKeys(a["body"], {"money"});
       }},
      {"cs/service/chatRecord/getChatRecord", "chatRoomId=1001&page=1&rows=10",
       [](const json& a) {
         isSuccess(a);
         ASSERT_EQ(a["result"].size(), 4u);
         hasKeys(a["result"][0], {"id", "typeId", "content", "sendUserId", "sendUsername",
                                  "msgSendTime", "sendUserRole", "sendUserImg", "roomId"});
         EXPECT_FALSE(a["hasNext"]);
       }},
      {"cds/service/bulletinInfo/getBulletinInfoPage", "",
       [](const json& a) {
         isSuccess(a);
         ASSERT_EQ(a["body"].size(), 3u);
         hasKeys(a["body"][0], {"bulletinTitle", "id"});
       }},
      {"cds/service/notificationInfo/findNotificationInfoPage", "globalId=10001&rows=1&page=1",
       [](const json& a) {
         isSuccess(a);
         EXPECT_EQ(a["body"]["total"], 1);
       }},
      {"cds/service/recommend/recommend", "roomId=1001&userId=10001",
       [](const json& a) {
         isSuccess(a);
         ASSERT_FALSE(a["body"].empty());
         EXPECT_EQ(a["body"][0]["globalId"], kAssistant);  // other teachers' classes only
       }},
      {"report/service/roomReport/addHistory", "type=chat&roomId=1001&globalId=10001", isSuccess},
      {"report/service/roomReport/addHistory", "type=gift&roomId=1001&globalId=10001&count=10",
       isSuccess},
      {"aas/service/user/saveScores",
       form(
           {{"param",
             R"({"uId":10001,"uRole":1,"tId":10002,"tRole":2,"roomId":1001,"score":80,"content":"好"})"}}),
       isSuccess},
      {"rms/service/room/addRoomBlack", "globalId=10004&roomId=1001&type=1&optionUser=10001",
       isSuccess},
      {"rms/service/room/removeRoomBlack", "globalId=10004&roomId=1001&type=1&optionUser=10001",
       isSuccess},
      {"rms/service/roomSharing/MoveSharingTop", "id=1&roomId=1001", isSuccess},
      {"rms/service/roomSharing/updateRoomSharingInfo",
       form({{"id", "1"}, {"sharingName", "改名"}, {"page", "4"}}), isSuccess},
      {"rms/service/roomSharing/DelSharingInfo", "id=1", isSuccess},
      {"rms/service/room/deleteAnnouncement", "id=2", isSuccess},
      {"rms/service/courseware/deleteCourseware", "id=3", isSuccess},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.body);
    const json answer = service.post(c.path, c.body, teacher.ticket, c.unnest);
    c.check(answer);
  }
}
