// Attacks on the real service over loopback, bounded in count and time: what
// one careless or hostile client must not be able to do to everybody else.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "RawConnection.h"
#include "ServiceHarness.h"
#include "eventually.h"

namespace fs = std::filesystem;
using namespace tavtest;
using testsupport::wait_limit;

namespace {

TEST(AbuseTest, SlowClientsFromOneAddressLeaveEveryoneElseServed) {
  ServiceHarness service(true, [](tavsvc::ServiceConfig& c) { c.headTimeoutMs = 1500; });
  const Login teacher = service.login("teacher");
  // 200 connections from one address, each dribbling out a request head.
  std::vector<RawConnection> slow;
  for (int i = 0; i < 200; ++i) {
    slow.emplace_back(service.port(), "127.0.0.2");
    slow.back().send("POST /rms/service/room/findRoomByGlobalId HTTP/1.1\r\n");
  }
  std::atomic<bool> done{false};
  std::thread dribble([&] {
    while (!done) {
      for (auto& c : slow)
        c.send("X-Slow: 1\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });

  // Meanwhile 60 ordinary calls from elsewhere, each on a new connection.
  std::vector<double> latencies;
  int answered = 0;
  for (int i = 0; i < 60; ++i) {
    httplib::Client client("127.0.0.1", service.port());
    const auto limit = std::chrono::duration_cast<std::chrono::seconds>(wait_limit()).count();
    client.set_read_timeout(limit, 0);
    client.set_connection_timeout(limit, 0);
    const auto start = std::chrono::steady_clock::now();
    auto res =
        client.Post("/rms/service/room/findRoomByGlobalId", {{"X-Tav-Ticket", teacher.ticket}},
                    "globalId=10001", "application/x-www-form-urlencoded");
    latencies.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    if (res && res->status == 200 && json::parse(res->body)["code"] == 0)
      ++answered;
  }
  EXPECT_EQ(answered, 60);
  std::sort(latencies.begin(), latencies.end());
  std::printf("ordinary calls beside 200 slow connections: p50 %.1f ms, max %.1f ms\n",
              latencies[latencies.size() / 2], latencies.back());

  // Every slow head is cut: those beyond the address's share at once, the rest at the deadline.
  EXPECT_TRUE(testsupport::eventually([&] {
    for (auto& c : slow)
      c.poll();
    return std::all_of(slow.begin(), slow.end(),
                       [](const RawConnection& c) { return c.closedByPeer(); });
  }));
  done = true;
  dribble.join();
}

// A school behind one NAT is one address: 300 students there, each on a
// connection of its own and all asking at once, are all answered.
TEST(AbuseTest, ThreeHundredStudentsBehindOneAddressAreAllServed) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const std::string request =
      "POST /rms/service/room/findRoomByGlobalId HTTP/1.1\r\nHost: t\r\nX-Tav-Ticket: " +
      teacher.ticket +
      "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 14\r\n\r\n"
      "globalId=10001";
  std::vector<RawConnection> students;
  for (int i = 0; i < 300; ++i) {
    students.emplace_back(service.port(), "127.0.0.9");
    ASSERT_TRUE(students.back().send(request));
  }
  int answered = 0;
  for (auto& s : students) {
    if (s.waitFor("\"code\":0", wait_limit()))
      ++answered;
    EXPECT_EQ(s.received().find(" 503 "), std::string::npos);
  }
  EXPECT_EQ(answered, 300);
}

TEST(AbuseTest, AnUploadWithoutATicketIsRefusedBeforeItsBodyIsSent) {
  ServiceHarness service;
  const fs::path staging = service.dataDir() / "data" / "uploads" / ".staging";
  // Heads announcing 60 MiB each, the bodies never sent: the answer comes anyway.
  std::vector<RawConnection> uploads;
  for (const char* auth : {"", "&ticketId=00000000000000000000000000000000"}) {
    uploads.emplace_back(service.port());
    uploads.back().send(std::string("POST /uds/upload?roomId=1001&userId=10003&name=big.bin") +
                        auth + " HTTP/1.1\r\nHost: t\r\nContent-Length: 62914560\r\n\r\n");
  }
  for (auto& upload : uploads) {
    EXPECT_TRUE(upload.waitFor("登录已失效", wait_limit())) << upload.received();
    EXPECT_TRUE(upload.waitClosed(wait_limit()));
  }
  EXPECT_TRUE(!fs::exists(staging) || fs::is_empty(staging));
}

TEST(AbuseTest, OnlyMembersUploadIntoARoomAndWithinTheirQuota) {
  ServiceHarness service(true, [](tavsvc::ServiceConfig& c) {
    c.uploadQuotaPerUser = 1000;
    c.uploadQuotaPerRoom = 1500;
  });
  httplib::Client client("127.0.0.1", service.port());
  const auto upload = [&](const Login& who, uint32_t room, const std::string& name, size_t bytes) {
    auto res = client.Post(("/uds/upload?roomId=" + std::to_string(room) +
                            "&userId=" + std::to_string(who.id) + "&name=" + name)
                               .c_str(),
                           {{"X-Tav-Ticket", who.ticket}}, std::string(bytes, 'q'),
                           "application/octet-stream");
    return res ? json::parse(res->body) : json(nullptr);
  };
  const Login student = service.login("student1");  // a member of 1001, never of 1007
  const Login teacher = service.login("teacher");
  json a = upload(student, 1007, "a.bin", 10);
  EXPECT_EQ(a["code"], 403) << a.dump();
  EXPECT_EQ(a["msg"], "您不是该教室的成员，不能上传文件！");
  EXPECT_EQ(upload(student, 1001, "a.bin", 900)["code"], 0);
  a = upload(student, 1001, "b.bin", 200);  // past the member's 1000 bytes
  EXPECT_EQ(a["code"], 413) << a.dump();
  EXPECT_EQ(upload(student, 1001, "c.bin", 100)["code"], 0);  // exactly up to it
  EXPECT_EQ(upload(student, 1001, "d.bin", 1)["code"], 1);    // nothing left
  EXPECT_EQ(upload(teacher, 1001, "t.bin", 500)["code"], 0);  // the room's 1500 reached
  EXPECT_EQ(upload(teacher, 1001, "u.bin", 1)["code"], 1);
  EXPECT_FALSE(
      fs::exists(service.dataDir() / "data" / "uploads" / "room" / "1001" / "10003" / "b.bin"));
}

TEST(AbuseTest, WrongPasswordsCountPerAccountWhicheverNameIsTyped) {
  ServiceHarness service;
  // student1's account name, phone number and nickname share one count.
  const json user = service.post("aas/service/user/findUserInfoById", "id=10003",
                                 service.login("student1").ticket);
  const std::string phone = user["body"]["phone"];
  const std::string nick = user["body"]["nickName"];
  ASSERT_FALSE(phone.empty());
  const std::string names[] = {"student1", phone, nick, "student1", phone};
  for (const std::string& name : names) {
    const json a = service.post("aas/service/user/login",
                                form({{"userName", name}, {"userPwd", "wrong"}}), "", true);
    EXPECT_EQ(a["msg"], "用户名或密码错误！") << name;
  }
  for (const std::string& name : {std::string("student1"), phone, nick}) {
    const json a = service.post("aas/service/user/login",
                                form({{"userName", name}, {"userPwd", "123456"}}), "", true);
    EXPECT_EQ(a["msg"], "密码错误次数过多，请5分钟后再试！") << name;
  }
  // Other accounts are not affected.
  EXPECT_EQ(service.login("student2").id, kStudent2);
}

TEST(AbuseTest, AssistantsPhoneNumbersAreTheOwnersToSee) {
  ServiceHarness service;
  const Login teacher = service.login("teacher");
  const Login student = service.login("student1");
  const json forOwner =
      service.post("rms/service/manage/findManageById", "roomId=1001", teacher.ticket);
  ASSERT_TRUE(forOwner.is_array());
  ASSERT_FALSE(forOwner.empty());
  const std::string phone = forOwner[0]["phone"];
  EXPECT_FALSE(phone.empty());
  const json forOthers =
      service.post("rms/service/manage/findManageById", "roomId=1001", student.ticket);
  ASSERT_TRUE(forOthers.is_array());
  EXPECT_EQ(forOthers[0]["globalId"], forOwner[0]["globalId"]);
  EXPECT_EQ(forOthers[0]["phone"], "");
  EXPECT_EQ(forOthers.dump().find(phone), std::string::npos);
  // Nor does anybody without a ticket see the list.
  EXPECT_EQ(service.post("rms/service/manage/findManageById", "roomId=1001")["code"], 401);
}

}  // namespace
