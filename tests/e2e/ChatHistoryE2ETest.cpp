// Chat sent on a room channel is kept by the service and comes back as history.
#include <gtest/gtest.h>

#include <httplib.h>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "eventually.h"
#include "libcorda/velmsgs.h"
#include "msgserver/server.h"
#include "service/Service.h"

namespace {
constexpr unsigned kRoom = 1001;  // a demo room
constexpr unsigned kTeacher = 10001;
const char kToken[] = "e2e-internal-token-0123456789abcdef";

class Observer : public velmsg::msg_observer {
public:
  void recv_msg(const char*) override {}
  void connect2msgs_state(int s) override { state = s; }
  void disconnect_from_msgs() override {}
  std::atomic<int> state{0};
};

}  // namespace

TEST(ChatHistoryE2E, RelayedChatIsStoredNewestFirst) {
  QTemporaryDir dir;
  tavsvc::ServiceConfig sc;
  sc.port = 0;
  sc.dataDir = (dir.path() + "/service").toStdString();
  sc.demoVideos = false;
  sc.passwordStrength = tavsvc::PasswordStrength::Minimum;
  sc.internalToken = kToken;
  tavsvc::Service service(sc);
  std::string error;
  ASSERT_TRUE(service.start(&error)) << error;

  msgserver::Config mc;
  mc.listen_port = 0;
  mc.service_url = "http://127.0.0.1:" + std::to_string(service.port());
  mc.internal_token = kToken;
  msgserver::Server msg(mc);
  const uint16_t msgPort = msg.start();
  ASSERT_NE(msgPort, 0);

  Observer observer;
  velmsg::velmsgs* client =
      velmsg::velmsgs::create(&observer, kTeacher, kRoom, "127.0.0.1", msgPort);
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(testsupport::eventually([&] { return observer.state.load() != 0; }));
  ASSERT_EQ(observer.state.load(), 1);
  for (const char* text : {"第一条", "second & third = 3%"}) {
    const nlohmann::json chat = {{"typeId", "0"},
                                 {"sendUserId", kTeacher},
                                 {"content", text},
                                 {"roomId", std::to_string(kRoom)}};
    ASSERT_EQ(client->send(chat.dump().c_str(), "*"), velmsg::send_queued);
  }
  // Not chat: relayed but not kept.
  ASSERT_EQ(client->send(R"({"typeId":"60","sendUserId":10001})", "*"), velmsg::send_queued);

  httplib::Client http("127.0.0.1", service.port());
  nlohmann::json answer;
  ASSERT_TRUE(testsupport::eventually([&] {
    auto res = http.Post("/cs/service/chatRecord/getChatRecord", "chatRoomId=1001&page=1&rows=10",
                         "application/x-www-form-urlencoded");
    if (!res || res->status != 200)
      return false;
    answer = nlohmann::json::parse(res->body, nullptr, false);
    // The demo room has older messages; ours are the newest two once both arrived.
    return answer.is_object() && answer.contains("result") && answer["result"].size() >= 2 &&
           answer["result"][0].value("content", "") == "second & third = 3%";
  }));
  const auto& records = answer["result"];
  EXPECT_EQ(records[0]["content"], "second & third = 3%");
  EXPECT_EQ(records[1]["content"], "第一条");
  EXPECT_GT(records[0]["id"].get<long long>(), records[1]["id"].get<long long>());
  client->destroy(1);
  msg.stop();
  service.stop();
}
