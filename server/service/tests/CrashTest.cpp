// The real tav-service killed with SIGKILL while clients write: every write it
// acknowledged is in the store afterwards, money is neither made nor lost, and
// the store passes its integrity check.
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include <sys/wait.h>

#include "ChildService.h"
#include "tavsrv/Answer.h"
#include "tavsrv/Database.h"
#include "tavsrv/Form.h"

namespace fs = std::filesystem;
using tavsrv::json;

namespace {
constexpr const char* kToken = "feedfacefeedfacefeedfacefeedface";

// The real program with the internal token and enough threads for the writers.
struct ServiceProcess : testsupport::ChildService {
  explicit ServiceProcess(const fs::path& data)
      : ChildService(TAV_SERVICE_BIN, data, {"--internal-token", kToken, "--threads", "32"},
                     30000) {}
};

json post(httplib::Client& client, const std::string& path, const std::string& body,
          const httplib::Headers& headers = {}) {
  auto res = client.Post(("/" + path).c_str(), headers, body, "application/x-www-form-urlencoded");
  if (!res)
    return nullptr;
  return json::parse(tavsrv::unnest(res->body), nullptr, false);
}
}  // namespace

TEST(CrashTest, KilledServiceKeepsEveryAcknowledgedWrite) {
  std::string pattern = (fs::temp_directory_path() / "tavcrashXXXXXX").string();
  const fs::path dir(mkdtemp(pattern.data()));
  const fs::path data = dir / "data";

  std::map<int64_t, std::string> ackedChats;  // record id -> content
  int ackedGifts = 0;
  int64_t moneyBefore = -1;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ServiceProcess service(data);
    ASSERT_GT(service.port(), 0) << "tav-service did not start";
    httplib::Client setup("127.0.0.1", service.port());
    setup.set_read_timeout(30, 0);
    const json login = post(setup, "aas/service/user/login", "userName=student1&userPwd=123456");
    ASSERT_EQ(login["code"], 0);
    const std::string ticket = login["body"]["ticketId"];
    if (moneyBefore < 0) {
      const auto connection = tavsrv::openConnection((data / "service.db").string());
      tavsrv::Connection& db = *connection;
      moneyBefore = db.queryInt("SELECT SUM(balance_cents) FROM users").value();
    }

    std::mutex mutex;
    std::condition_variable progress;
    int acked = 0;
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < 6; ++w) {
      writers.emplace_back([&, w] {
        httplib::Client client("127.0.0.1", service.port());
        client.set_read_timeout(10, 0);
        for (int n = 0; !stop && n < 100000; ++n) {
          if (w == 0) {
            // A gift: money moves between two users in one transaction.
            const json a = post(client, "mbs/service/consume/addConsume",
                                "consumeGlobalId=10004&ticketId=" + ticket +
                                    "&giftId=1&count=1&money=1&globalId=10003");
            if (!a.is_object())
              return;
            std::lock_guard<std::mutex> lock(mutex);
            if (a["code"] == 0)
              ++ackedGifts;
            continue;
          }
          const std::string content =
              "r" + std::to_string(round) + "w" + std::to_string(w) + "n" + std::to_string(n);
          const json a = post(client, "internal/chatRecord/add",
                              "chatRoomId=1001&userId=10003&typeId=0&content=" + content,
                              {{"X-Tav-Internal-Token", kToken}});
          if (!a.is_object() || a["code"] != 0)
            return;  // the service is gone
          std::lock_guard<std::mutex> lock(mutex);
          ackedChats[a["body"]["id"].get<int64_t>()] = content;
          ++acked;
          progress.notify_all();
        }
      });
    }
    {
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(progress.wait_for(lock, std::chrono::seconds(60), [&] { return acked >= 150; }));
    }
    service.kill(SIGKILL);  // writers are mid-request
    const int status = service.wait();
    EXPECT_TRUE(WIFSIGNALED(status));
    stop = true;
    for (auto& writer : writers)
      writer.join();

    // Opening the store replays its log; then everything acknowledged must be there.
    const auto connection = tavsrv::openConnection((data / "service.db").string());
    tavsrv::Connection& db = *connection;
    EXPECT_EQ(tavsrv::integrityCheck(db), "ok");
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [id, content] : ackedChats) {
      const auto stored = db.queryText("SELECT message FROM chat_records WHERE id = ?1", id);
      ASSERT_TRUE(stored) << "acknowledged record " << id << " lost";
      EXPECT_EQ(json::parse(*stored)["content"], content);
    }
    EXPECT_EQ(db.queryInt("SELECT SUM(balance_cents) FROM users").value(), moneyBefore);
    const int64_t gifts = db.queryInt("SELECT COUNT(*) FROM consumptions").value();
    EXPECT_GE(gifts, ackedGifts);
    EXPECT_EQ(db.queryInt("SELECT balance_cents FROM users WHERE id = 10003").value(),
              100000 - gifts * 100);
    std::printf(
        "round %d: %d records and %d gifts acknowledged in all before the kill, %lld gifts "
        "stored\n",
        round, static_cast<int>(ackedChats.size()), ackedGifts, static_cast<long long>(gifts));
  }

  // A restarted service serves the surviving data and stops cleanly on SIGTERM.
  ServiceProcess service(data);
  ASSERT_GT(service.port(), 0);
  httplib::Client client("127.0.0.1", service.port());
  client.set_read_timeout(30, 0);
  const json login = post(client, "aas/service/user/login", "userName=student1&userPwd=123456");
  ASSERT_EQ(login["code"], 0);
  const json page =
      post(client, "cs/service/chatRecord/getChatRecord", "chatRoomId=1001&page=1&rows=1",
           {{"X-Tav-Ticket", login["body"]["ticketId"].get<std::string>()}});
  ASSERT_EQ(page["code"], 0);
  EXPECT_GE(page["result"][0]["id"].get<int64_t>(), ackedChats.rbegin()->first);
  service.kill(SIGTERM);
  const int status = service.wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  fs::remove_all(dir);
}
