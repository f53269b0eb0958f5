// Two tav-service processes on one PostgreSQL store and one data folder behind
// nginx: the client knows one address, both nodes answer it, and when one dies
// the other goes on with the same tickets and presence.
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>

#include "ChildService.h"
#include "ScratchNginx.h"
#include "ScratchPostgres.h"
#include "eventually.h"
#include "tavsrv/Answer.h"
#include "tavsrv/Form.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

json call(httplib::Client& client, const std::string& path, const std::string& body,
          const std::string& ticket = "") {
  httplib::Headers headers;
  if (!ticket.empty())
    headers.emplace("X-Tav-Ticket", ticket);
  auto res = client.Post(("/" + path).c_str(), headers, body, "application/x-www-form-urlencoded");
  if (!res || res->status != 200)
    return json{{"code", res ? res->status : -999}};
  return json::parse(tavsrv::unnest(res->body), nullptr, false);
}

std::string ticketOf(httplib::Client& client, const std::string& user) {
  const json answer =
      call(client, "aas/service/user/login", "userName=" + user + "&userPwd=123456");
  return answer["code"] == 0 ? answer["body"]["ticketId"].get<std::string>() : "";
}

}  // namespace

TEST(LoadBalancerTest, TwoNodesBehindNginxAreOneAddressAndOutliveEachOther) {
  auto& postgres = testsupport::ScratchPostgres::shared();
  if (!postgres.ok())
    GTEST_SKIP() << "no PostgreSQL server: " << postgres.why();
  const std::string database = postgres.createDatabase();
  ASSERT_FALSE(database.empty()) << postgres.why();
  std::string pattern = (fs::temp_directory_path() / "tavlbdataXXXXXX").string();
  const fs::path shared = mkdtemp(pattern.data());
  const std::vector<std::string> flags = {"--database",       database,
                                          "--internal-token", "0123456789abcdef0123456789abcdef",
                                          "--trusted-proxy",  "127.0.0.1"};
  auto first = std::make_unique<testsupport::ChildService>(TAV_SERVICE_BIN, shared, flags);
  testsupport::ChildService second(TAV_SERVICE_BIN, shared, flags);
  ASSERT_NE(first->port(), 0);
  ASSERT_NE(second.port(), 0);
  testsupport::ScratchNginx balancer({first->port(), second.port()});
  ASSERT_TRUE(balancer.ok()) << balancer.why();

  httplib::Client client("127.0.0.1", balancer.port());
  client.set_read_timeout(60, 0);
  const std::string teacher = ticketOf(client, "teacher");
  const std::string student = ticketOf(client, "student1");
  ASSERT_FALSE(student.empty());
  ASSERT_EQ(
      call(client, "rms/service/room/userJoinRoom", "roomId=1001&globalId=10003", student)["code"],
      0);
  const std::string heartbeat = "globalId=10003&roomId=1001&type=2";
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(call(client, "rms/service/room/heartbeat", heartbeat, student)["code"], 0);
  // Both nodes answered the one address.
  const auto served = [&](int port) {
    for (const std::string& line : balancer.accessLog())
      if (line.rfind("127.0.0.1:" + std::to_string(port) + " 200", 0) == 0)
        return true;
    return false;
  };
  EXPECT_TRUE(testsupport::eventually([&] {
    return served(first->port()) && served(second.port());
  })) << "the balancer's log: "
      << balancer.accessLog().size() << " lines";

  // A node dies: the balancer goes round it, and the other knows the same tickets and presence.
  first->kill(SIGKILL);
  first->wait();
  first.reset();
  EXPECT_TRUE(testsupport::eventually(
      [&] { return call(client, "rms/service/room/heartbeat", heartbeat, student)["code"] == 0; }));
  for (int i = 0; i < 4; ++i) {
    const json online = call(client, "rms/service/room/findRoomOnlineUser", "roomId=1001", teacher);
    ASSERT_EQ(online["code"], 0) << online.dump();
    ASSERT_EQ(online["onlineUser"].size(), 1u);
    EXPECT_EQ(online["onlineUser"][0]["globalId"], 10003);
  }
  fs::remove_all(shared);
}
