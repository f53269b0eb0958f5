#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ServiceHarness.h"

namespace fs = std::filesystem;
using namespace tavtest;

TEST(FilesTest, PicturesAreServedUnderBothPathFormsAndNothingOutsideTheUploads) {
  ServiceHarness service;
  auto res = service.get("uds/upload/poster/room-1001.bmp");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "image/bmp");
  EXPECT_EQ(res->body.substr(0, 2), "BM");
  res = service.get("uds/upload//avatar/user-10003.bmp");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  res = service.get("uds/upload/gift/flower.bmp");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);

  // A file beside the uploads, and a link inside them that points to it.
  std::ofstream(service.dataDir() / "data" / "secret.txt") << "secret";
  fs::create_symlink(service.dataDir() / "data" / "secret.txt",
                     service.dataDir() / "data" / "uploads" / "link.txt");
  for (const char* path : {"uds/upload/../service.db", "uds/upload/%2e%2e/service.db",
                           "uds/upload/poster/..%2f..%2fservice.db", "uds/upload/..%5csecret.txt",
                           "uds/upload/link.txt", "uds/upload", "uds/upload/", "uds/upload/poster",
                           "uds/upload/.staging", "uds/upload/%00", "download/../service.db"}) {
    res = service.get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 404) << path;
    EXPECT_EQ(res->body.find("secret"), std::string::npos);
  }
}

TEST(FilesTest, UploadsNeedTheSendersTicketAndComeBackByPath) {
  ServiceHarness service;
  const Login student = service.login("student1");
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>(i * 7);
  httplib::Client client("127.0.0.1", service.port());
  client.set_read_timeout(30, 0);

  auto res = client.Post("/uds/upload?roomId=1001&userId=10003&name=20250101_120000000.png",
                         {{"X-Tav-Ticket", student.ticket}}, content, "application/octet-stream");
  ASSERT_TRUE(res);
  json a = json::parse(res->body);
  ASSERT_EQ(a["code"], 0) << res->body;
  EXPECT_EQ(a["body"]["path"], "/room/1001/10003/20250101_120000000.png");
  res = client.Get("/uds/upload/room/1001/10003/20250101_120000000.png",
                   {{"X-Tav-Ticket", student.ticket}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, content);

  // Multipart form, the ticket in the query, the room in the form, the file
  // name from the part.
  httplib::MultipartFormDataItems items = {
      {"roomId", "1002", "", ""},
      {"userId", "10003", "", ""},
      {"file", "voice-bytes", "clip.qn", "application/octet-stream"}};
  res = client.Post(("/uds/upload?ticketId=" + student.ticket).c_str(), items);
  ASSERT_TRUE(res);
  a = json::parse(res->body);
  ASSERT_EQ(a["code"], 0) << res->body;
  EXPECT_EQ(client.Get(("/uds/upload/room/1002/10003/clip.qn?ticketId=" + student.ticket).c_str())
                ->body,
            "voice-bytes");
  // A ticket inside the body comes too late: the caller is known before it is read.
  items.push_back({"ticketId", student.ticket, "", ""});
  res = client.Post("/uds/upload", items);
  ASSERT_TRUE(res);
  EXPECT_EQ(json::parse(res->body)["code"], 401);

  // Another user's ticket, bad names, unknown rooms.
  const Login other = service.login("student2");
  res = client.Post("/uds/upload?roomId=1001&userId=10003&name=x.png",
                    {{"X-Tav-Ticket", other.ticket}}, "x", "application/octet-stream");
  EXPECT_EQ(json::parse(res->body)["code"], 403);
  for (const char* name : {"..", ".hidden", "a%2Fb", "a%5Cb"}) {
    res = client.Post((std::string("/uds/upload?roomId=1001&userId=10003&name=") + name).c_str(),
                      {{"X-Tav-Ticket", student.ticket}}, "x", "application/octet-stream");
    EXPECT_EQ(json::parse(res->body)["code"], 400) << name;
  }
  res = client.Post("/uds/upload?roomId=4242&userId=10003&name=x.png",
                    {{"X-Tav-Ticket", student.ticket}}, "x", "application/octet-stream");
  EXPECT_EQ(json::parse(res->body)["code"], 404);
  // Nothing half-written is left behind by the refused uploads.
  EXPECT_TRUE(fs::is_empty(service.dataDir() / "data" / "uploads" / ".staging"));
}

TEST(FilesTest, UploadsAboveTheLimitAreRefused) {
  ServiceHarness service;
  const Login student = service.login("student1");
  httplib::Client client("127.0.0.1", service.port());
  client.set_read_timeout(60, 0);
  const std::string big((64u << 20) + 1, 'a');
  auto res = client.Post("/uds/upload?roomId=1001&userId=10003&name=big.bin",
                         {{"X-Tav-Ticket", student.ticket}}, big, "application/octet-stream");
  if (res) {
    EXPECT_NE(res->status == 200 ? json::parse(res->body)["code"].get<int>() : res->status, 0);
  }
  EXPECT_FALSE(
      fs::exists(service.dataDir() / "data" / "uploads" / "room" / "1001" / "10003" / "big.bin"));
  EXPECT_EQ(service.post("rms/service/gift/findAll", "")["code"], 0);
}

TEST(PagesTest, RegistrationCreatesAnAccountThatLogsIn) {
  ServiceHarness service;
  auto res = service.get("tavolin/views/register.html");
  ASSERT_TRUE(res);
  EXPECT_NE(res->body.find("<form"), std::string::npos);
  res = service.raw("tavolin/views/register.html", form({{"userName", "newkid"},
                                                         {"nickName", "<b>小新</b>"},
                                                         {"phone", ""},
                                                         {"password", "secret1"},
                                                         {"password2", "secret1"}}));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200) << res->body;
  const Login login = service.login("newkid", "secret1");
  EXPECT_GT(login.id, kInspector);
  // Taken names, mismatched passwords, names that would break the client's un-nesting.
  res = service.raw("tavolin/views/register.html", form({{"userName", "NEWKID"},
                                                         {"nickName", "x"},
                                                         {"password", "secret1"},
                                                         {"password2", "secret1"}}));
  EXPECT_NE(res->body.find("该用户名已被注册！"), std::string::npos);
  res = service.raw("tavolin/views/register.html", form({{"userName", "kid2"},
                                                         {"nickName", "x"},
                                                         {"password", "secret1"},
                                                         {"password2", "secret2"}}));
  EXPECT_NE(res->body.find("两次输入的密码不一致！"), std::string::npos);
  res = service.raw("tavolin/views/register.html", form({{"userName", "kid3"},
                                                         {"nickName", "a\"}b"},
                                                         {"password", "secret1"},
                                                         {"password2", "secret1"}}));
  EXPECT_EQ(res->status, 400);
  res = service.raw("tavolin/views/register.html", form({{"userName", "a b"},
                                                         {"nickName", "x"},
                                                         {"password", "secret1"},
                                                         {"password2", "secret1"}}));
  EXPECT_EQ(res->status, 400);

  // The personal page shows the name escaped.
  const std::string key = service.post(
      "aas/service/user/putRedis", "globalId=" + std::to_string(login.id), login.ticket)["body"];
  res = service.get("tavolin/views/personalCenter/myclass.html?Keycode=" + key);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_NE(res->body.find("&lt;b&gt;小新&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(res->body.find("<b>小新"), std::string::npos);
}

TEST(PagesTest, PersonalPagesNeedAFreshKey) {
  ServiceHarness service;
  const Login student = service.login("student1");
  const std::string key =
      service.post("aas/service/user/putRedis", "globalId=10003", student.ticket)["body"];
  auto res = service.get("tavolin/views/personalCenter/myclass.html?Keycode=" + key);
  ASSERT_TRUE(res);
  EXPECT_NE(res->body.find("初二数学提高班"), std::string::npos);
  res = service.get("tavolin/views/personalCenter/myMessage.html?Keycode=" + key);
  EXPECT_NE(res->body.find("课程提醒"), std::string::npos);
  res = service.raw("tavolin/views/personalCenter/rechargeCenter.html?Keycode=" + key, "amount=50");
  EXPECT_NE(res->body.find("充值成功"), std::string::npos);
  EXPECT_NE(res->body.find("演示 · DEMO"), std::string::npos);
  // The page recharges only the key's user, and a key is only had for oneself.
  EXPECT_EQ(service.post("aas/service/user/putRedis", "globalId=10001", student.ticket)["code"], 403);
  EXPECT_EQ(service.post("aas/service/user/putRedis", "globalId=10003")["code"], 401);
  EXPECT_EQ(service.post("aas/service/user/findUserInfoById", "id=10003",
                         student.ticket)["body"]["money"],
            1050.0);
  res = service.raw("tavolin/views/personalCenter/rechargeCenter.html?Keycode=" + key,
                    "amount=20000");
  EXPECT_EQ(res->status, 400);
  // Keys expire after five minutes.
  service.clock().advance(5 * 60 * 1000 + 1);
  res = service.get("tavolin/views/personalCenter/myclass.html?Keycode=" + key);
  EXPECT_EQ(res->status, 403);
  res = service.raw("tavolin/views/personalCenter/rechargeCenter.html?Keycode=" + key, "amount=50");
  EXPECT_EQ(res->status, 403);
  EXPECT_EQ(service.post("aas/service/user/findUserInfoById", "id=10003",
                         student.ticket)["body"]["money"],
            1050.0);
  EXPECT_EQ(service.get("tavolin/views/personalCenter/myclass.html")->status, 403);
  // A key for a class poster names the room.
  const std::string roomKey = service.post(
      "aas/service/user/putRedis", "globalId=10003&roomid=1002&typename=tav-smallclass&discount=1",
      student.ticket)["body"];
  res = service.get("tavolin/views/tav-smallclass/classRoom.html?Keycode=" + roomKey);
  EXPECT_NE(res->body.find("英语口语小班"), std::string::npos);
  // Public pages.
  EXPECT_NE(service.get("tavolin/views/notice.html")->body.find("秋季班报名开始"),
            std::string::npos);
  EXPECT_NE(service.get("tavolin/index.html")->body.find("少儿编程启蒙"), std::string::npos);
  EXPECT_EQ(service.get("tavolin/index.html")->body.find("物理实验探究"),
            std::string::npos);  // private
  EXPECT_EQ(service.get("tavolin/views/tav-smallclass/index.html")->status, 200);
  // A shared room link names the room; a private one, a bad or unknown id names nothing.
  const std::string sharedPage =
      service.get("tavolin/views/tav-smallclass/index.html?roomId=1001")->body;
  EXPECT_NE(sharedPage.find("分享给你的班级：<b>初二数学提高班</b>"), std::string::npos);
  for (const char* query : {"?roomId=1003", "?roomId=1005", "?roomId=99999", "?roomId=1001x", "?roomId=-1",
                            "?roomId=99999999999999999999"})
    EXPECT_EQ(service.get(std::string("tavolin/views/tav-smallclass/index.html") + query)
                  ->body.find("分享给你的班级"),
              std::string::npos)
        << query;
  EXPECT_EQ(service.get("tavolin/mes-login.html")->status, 200);
}
