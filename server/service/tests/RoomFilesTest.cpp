// Room files: who may read them, byte ranges, and uploads continued after a break.
#include <gtest/gtest.h>

#include <filesystem>

#include "RawConnection.h"
#include "ServiceHarness.h"
#include "eventually.h"

namespace fs = std::filesystem;
using namespace tavtest;

namespace {

std::string pattern(size_t size) {
  std::string content(size, '\0');
  for (size_t i = 0; i < size; ++i)
    content[i] = static_cast<char>((i * 131) ^ (i >> 9));
  return content;
}

json answerOf(const httplib::Result& res) {
  return res ? json::parse(res->body, nullptr, false) : json();
}

class RoomFiles : public ::testing::Test {
protected:
  void SetUp() override {
    student = service.login("student1");
    client.set_read_timeout(30, 0);
    content = pattern(200000);
    auto res = client.Post("/uds/upload?roomId=1002&userId=10003&name=pic.png",
                           {{"X-Tav-Ticket", student.ticket}}, content, "application/octet-stream");
    ASSERT_EQ(answerOf(res)["code"], 0);
  }

  ServiceHarness service;
  Login student;
  httplib::Client client{"127.0.0.1", service.port()};
  std::string content;
  const char* path = "/uds/upload/room/1002/10003/pic.png";
};

}  // namespace

TEST_F(RoomFiles, OnlyMembersOfTheRoomReadItsFiles) {
  const Login outsider = service.login("student3");  // not in room 1002
  const Login teacher = service.login("teacher");    // its owner
  const Login assistant = service.login("assistant");

  auto res = client.Get(path);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 401);
  EXPECT_EQ(res->body.find("pic"), std::string::npos);
  res = client.Get(path, {{"X-Tav-Ticket", "00000000000000000000000000000000"}});
  EXPECT_EQ(res->status, 401);
  res = client.Get(path, {{"X-Tav-Ticket", outsider.ticket}});
  EXPECT_EQ(res->status, 403);
  EXPECT_NE(res->body, content);
  res = client.Get(("/uds/upload//room/1002/10003/pic.png?ticketId=" + outsider.ticket).c_str());
  EXPECT_EQ(res->status, 403);
  res = client.Get("/uds/upload/room/4242/10003/pic.png", {{"X-Tav-Ticket", student.ticket}});
  EXPECT_EQ(res->status, 404);

  for (const Login& member : {student, teacher, assistant}) {
    res = client.Get(path, {{"X-Tav-Ticket", member.ticket}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << member.id;
    EXPECT_EQ(res->body, content) << member.id;
  }
  // Pictures of the lobby stay public.
  EXPECT_EQ(client.Get("/uds/upload/avatar/user-10003.bmp")->status, 200);
  EXPECT_EQ(client.Get("/uds/upload/poster/room-1001.bmp")->status, 200);
}

TEST_F(RoomFiles, RangesAreAnsweredWithPartialContent) {
  const httplib::Headers ticket = {{"X-Tav-Ticket", student.ticket}};
  auto whole = client.Get(path, ticket);
  ASSERT_TRUE(whole);
  const std::string etag = whole->get_header_value("ETag");
  ASSERT_FALSE(etag.empty());
  EXPECT_FALSE(whole->get_header_value("Last-Modified").empty());

  struct Case {
    const char* range;
    size_t first, length;
  };
  for (const Case& c : {Case{"bytes=100-199", 100, 100}, Case{"bytes=150000-", 150000, 50000},
                        Case{"bytes=-10", 199990, 10}, Case{"bytes=199999-500000", 199999, 1}}) {
    httplib::Headers headers = ticket;
    headers.emplace("Range", c.range);
    auto res = client.Get(path, headers);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 206) << c.range;
    EXPECT_EQ(res->body, content.substr(c.first, c.length)) << c.range;
    EXPECT_EQ(res->get_header_value("Content-Range"), "bytes " + std::to_string(c.first) + "-" +
                                                          std::to_string(c.first + c.length - 1) +
                                                          "/200000")
        << c.range;
  }

  httplib::Headers headers = ticket;
  headers.emplace("Range", "bytes=200000-");
  auto res = client.Get(path, headers);
  EXPECT_EQ(res->status, 416);
  EXPECT_EQ(res->get_header_value("Content-Range"), "bytes */200000");

  // If-Range: the current validator gets the range, a stale one the whole file.
  headers = ticket;
  headers.emplace("Range", "bytes=1000-");
  headers.emplace("If-Range", etag);
  res = client.Get(path, headers);
  EXPECT_EQ(res->status, 206);
  EXPECT_EQ(res->body, content.substr(1000));
  headers = ticket;
  headers.emplace("Range", "bytes=1000-");
  headers.emplace("If-Range", "\"0-0\"");
  res = client.Get(path, headers);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, content);
}

TEST_F(RoomFiles, UploadContinuesWhereItBroke) {
  const std::string data = pattern(300000);
  const httplib::Headers ticket = {{"X-Tav-Ticket", student.ticket}};
  const std::string base = "/uds/upload?roomId=1002&userId=10003&name=clip.qn&size=300000";
  const fs::path target =
      service.dataDir() / "data" / "uploads" / "room" / "1002" / "10003" / "clip.qn";

  // The first piece stays hidden: the file is neither there nor served.
  json a = answerOf(client.Post((base + "&offset=0").c_str(), ticket, data.substr(0, 120000),
                                "application/octet-stream"));
  ASSERT_EQ(a["code"], 0) << a.dump();
  EXPECT_EQ(a["body"]["offset"], 120000);
  EXPECT_FALSE(a["body"].contains("path"));
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(client.Get("/uds/upload/room/1002/10003/clip.qn", ticket)->status, 404);

  // Asking answers what is held; a piece at another place is refused unread.
  a = answerOf(client.Post(base.c_str(), ticket, "", "application/octet-stream"));
  EXPECT_EQ(a["code"], 0);
  EXPECT_EQ(a["body"]["offset"], 120000);
  a = answerOf(client.Post((base + "&offset=100000").c_str(), ticket, data.substr(100000),
                           "application/octet-stream"));
  EXPECT_EQ(a["code"], 409);
  EXPECT_EQ(a["body"]["offset"], 120000);
  // Someone else cannot continue it, nor push more bytes than announced.
  const Login other = service.login("student2");
  a = answerOf(client.Post((base + "&offset=120000").c_str(), {{"X-Tav-Ticket", other.ticket}},
                           data.substr(120000), "application/octet-stream"));
  EXPECT_EQ(a["code"], 403);
  a = answerOf(client.Post((base + "&offset=120000").c_str(), ticket, data.substr(120000) + "x",
                           "application/octet-stream"));
  EXPECT_EQ(a["code"], 413);

  a = answerOf(client.Post((base + "&offset=120000").c_str(), ticket, data.substr(120000),
                           "application/octet-stream"));
  ASSERT_EQ(a["code"], 0) << a.dump();
  EXPECT_EQ(a["body"]["path"], "/room/1002/10003/clip.qn");
  EXPECT_EQ(a["body"]["size"], 300000);
  EXPECT_EQ(client.Get("/uds/upload/room/1002/10003/clip.qn", ticket)->body, data);

  // Announced sizes above the limit are refused before any byte is read.
  a = answerOf(
      client.Post("/uds/upload?roomId=1002&userId=10003&name=big.bin&size=67108865&offset=0",
                  ticket, "x", "application/octet-stream"));
  EXPECT_EQ(a["code"], 413);
  // Nothing is left in the staging folder once the upload is complete.
  for (const auto& entry :
       fs::directory_iterator(service.dataDir() / "data" / "uploads" / ".staging"))
    ADD_FAILURE() << "left behind: " << entry.path();
}

TEST(RoomFilesQuota, UnfinishedUploadsCountAgainstTheQuota) {
  ServiceHarness service(true,
                         [](tavsvc::ServiceConfig& config) { config.uploadQuotaPerUser = 1000; });
  const Login student = service.login("student1");
  httplib::Client client("127.0.0.1", service.port());
  const httplib::Headers ticket = {{"X-Tav-Ticket", student.ticket}};
  json a = answerOf(client.Post("/uds/upload?roomId=1002&userId=10003&name=a.qn&size=900&offset=0",
                                ticket, std::string(500, 'a'), "application/octet-stream"));
  ASSERT_EQ(a["code"], 0) << a.dump();
  // 500 bytes are pending: another 600 do not fit, 400 do, and the first may finish.
  a = answerOf(client.Post("/uds/upload?roomId=1002&userId=10003&name=b.qn&size=600&offset=0",
                           ticket, std::string(600, 'b'), "application/octet-stream"));
  EXPECT_EQ(a["code"], 413);
  a = answerOf(client.Post("/uds/upload?roomId=1002&userId=10003&name=c.qn&size=400&offset=0",
                           ticket, std::string(400, 'c'), "application/octet-stream"));
  EXPECT_EQ(a["code"], 0) << a.dump();
  a = answerOf(client.Post("/uds/upload?roomId=1002&userId=10003&name=a.qn&size=900&offset=500",
                           ticket, std::string(400, 'a'), "application/octet-stream"));
  EXPECT_EQ(a["code"], 413);  // the finished c.qn left no room for it
}

// Uploads running side by side reserve their declared size before their bodies
// are read, so together they cannot pass the quota, also through two service
// nodes on one store and folder; a dropped upload gives its reservation back.
TEST(RoomFilesQuota, ParallelUploadsReserveTheirSizeAndADroppedOneGivesItBack) {
  constexpr size_t kKiB = 1024, kFile = 64 * kKiB, kQuota = 512 * kKiB;
  ServiceHarness service(
      true,
      [](tavsvc::ServiceConfig& config) {
        config.uploadLimit = kFile;
        config.uploadQuotaPerUser = kQuota;
      },
      2);
  const Login student = service.login("student1");
  httplib::Client client("127.0.0.1", service.port());
  const httplib::Headers ticket = {{"X-Tav-Ticket", student.ticket}};
  const auto put = [&](const std::string& name, size_t size) {
    return answerOf(client.Post("/uds/upload?roomId=1002&userId=10003&name=" + name, ticket,
                                std::string(size, 'p'), "application/octet-stream"));
  };
  for (int i = 0; i < 6; ++i)
    ASSERT_EQ(put("old" + std::to_string(i), kFile)["code"], 0);  // 384 KiB of 512
  const fs::path mine = service.dataDir() / "data/uploads/room/1002/10003";
  const fs::path staging = service.dataDir() / "data/uploads/.staging";
  const auto used = [&] {
    uint64_t total = 0;
    for (const auto& entry : fs::directory_iterator(mine))
      total += entry.file_size();
    return total;
  };

  // Eight uploads of 64 KiB at once (from addresses of their own: a member's
  // uploads at a time are limited per address), each body short of its last byte.
  std::vector<tavtest::RawConnection> uploads;
  for (int i = 0; i < 8; ++i) {
    uploads.emplace_back(service.port(i % 2), "127.0.0." + std::to_string(11 + i));
    ASSERT_TRUE(uploads.back().send(
        "POST /uds/upload?roomId=1002&userId=10003&name=new" + std::to_string(i) +
        " HTTP/1.1\r\nHost: t\r\nX-Tav-Ticket: " + student.ticket +
        "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(kFile) +
        "\r\n\r\n" + std::string(kFile - 1, 'n')));
  }
  // Each one is either refused or past its checks, writing into the staging folder.
  const auto settled = [&] {
    size_t answered = 0, staged = 0;
    for (auto& u : uploads) {
      u.poll();
      answered += u.received().empty() ? 0 : 1;
    }
    std::error_code ec;
    for (fs::directory_iterator it(staging, ec), end; !ec && it != end; it.increment(ec))
      ++staged;
    return answered + staged == uploads.size();
  };
  ASSERT_TRUE(testsupport::eventually(settled));
  std::vector<tavtest::RawConnection*> going;
  for (auto& u : uploads) {
    if (u.received().empty())
      going.push_back(&u);
    else
      EXPECT_NE(u.received().find("上传空间"), std::string::npos) << u.received();
  }
  ASSERT_GE(going.size(), 1u);
  going.front()->close();  // dropped halfway
  for (size_t i = 1; i < going.size(); ++i) {
    ASSERT_TRUE(going[i]->send("n"));
    EXPECT_TRUE(going[i]->waitFor("\"code\":", testsupport::wait_limit()));
  }
  EXPECT_LE(used(), kQuota);
  EXPECT_EQ(going.size(), 2u);

  // The dropped one's place comes free once the service has seen it go.
  EXPECT_TRUE(testsupport::eventually([&] { return put("late", kFile)["code"] == 0; }));
  EXPECT_EQ(used(), kQuota);
  EXPECT_NE(put("one-more", 1)["code"], 0);
}
