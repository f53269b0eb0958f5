// Chat on a room channel goes through the service: what it stores comes back
// as history and is relayed; a muted member's and an auditor's chat is neither.
// Members get their credentials from the service's room entry, as the client does.
#include <gtest/gtest.h>

#include <httplib.h>
#include <QTemporaryDir>
#include <atomic>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "eventually.h"
#include "libcorda/velmsgs.h"
#include "msgserver/Server.h"
#include "service/Service.h"

namespace {
using nlohmann::json;
using testsupport::eventually;

constexpr unsigned kRoom = 1001;  // a demo room: teacher's, student1..4, auditor
const char kToken[] = "e2e-internal-token-0123456789abcdef";

class Observer : public velmsg::msg_observer {
public:
  void recv_msg(const char* msg) override {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.emplace_back(msg);
  }
  void connect2msgs_state(int s) override { state = s; }
  void disconnect_from_msgs() override {}
  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  std::atomic<int> state{0};

private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
};

// The service, then the message server that asks it, sharing one secret.
class Stack {
public:
  Stack() {
    tavsvc::ServiceConfig sc;
    sc.port = 0;
    sc.dataDir = (dir_.path() + "/service").toStdString();
    sc.demoVideos = false;
    sc.passwordStrength = tavsvc::PasswordStrength::Minimum;
    sc.internalToken = kToken;
    service_ = std::make_unique<tavsvc::Service>(sc);
    std::string error;
    if (!service_->start(&error))
      return;
    msgserver::Config mc;
    mc.listen_port = 0;
    mc.service_url = "http://127.0.0.1:" + std::to_string(service_->port());
    mc.internal_token = kToken;
    msg = std::make_unique<msgserver::Server>(mc);
    msgPort = msg->start();
    http_ = std::make_unique<httplib::Client>("127.0.0.1", service_->port());
  }
  ~Stack() {
    if (msg)
      msg->stop();
    if (service_)
      service_->stop();
  }
  bool started() const { return msgPort != 0; }

  json post(const std::string& path, const std::string& body, const std::string& ticket = "") {
    httplib::Headers headers;
    if (!ticket.empty())
      headers.emplace("X-Tav-Ticket", ticket);
    const auto res = http_->Post("/" + path, headers, body, "application/x-www-form-urlencoded");
    return res && res->status == 200 ? json::parse(res->body, nullptr, false) : json();
  }

  struct Login {
    unsigned id = 0;
    std::string ticket;
  };
  Login login(const std::string& account) {
    const json answer = post("aas/service/user/login", "userName=" + account + "&userPwd=123456");
    const json user = json::parse(answer.value("body", std::string()), nullptr, false);
    if (!user.is_object())
      return {};
    return {user.value("globalId", 0u), user.value("ticketId", std::string())};
  }

  // A member who entered the room and connected its room channel with the entry's credential.
  struct Member {
    Login login;
    Observer observer;
    velmsg::velmsgs* client = nullptr;
    ~Member() {
      if (client)
        client->destroy(1);
    }
  };
  std::unique_ptr<Member> enter(const std::string& account) {
    auto member = std::make_unique<Member>();
    member->login = login(account);
    const json entry =
        post("rms/service/room/userJoinRoom",
             "roomId=" + std::to_string(kRoom) + "&globalId=" + std::to_string(member->login.id),
             member->login.ticket);
    const std::string credential = entry.value("room_credential", std::string());
    member->client = velmsg::velmsgs::create(&member->observer, member->login.id, kRoom,
                                             "127.0.0.1", msgPort, credential.c_str());
    if (!eventually([&] { return member->observer.state.load() != 0; }) ||
        member->observer.state.load() != 1)
      return nullptr;
    return member;
  }

  // The room's stored chat, newest first, as a member of the room reads it.
  json records(const Member& reader) {
    const json page =
        post("cs/service/chatRecord/getChatRecord",
             "chatRoomId=" + std::to_string(kRoom) + "&page=1&rows=20", reader.login.ticket);
    return page.is_object() && page.contains("result") ? page["result"] : json::array();
  }
  std::vector<std::string> history(const Member& reader) {
    std::vector<std::string> contents;
    for (const json& record : records(reader))
      contents.push_back(record.value("content", std::string()));
    return contents;
  }

  std::unique_ptr<msgserver::Server> msg;
  std::uint16_t msgPort = 0;

private:
  QTemporaryDir dir_;
  std::unique_ptr<tavsvc::Service> service_;
  std::unique_ptr<httplib::Client> http_;
};

std::string chatText(unsigned sender, const std::string& content) {
  return json{{"typeId", "0"},
              {"sendUserId", sender},
              {"content", content},
              {"roomId", std::to_string(kRoom)}}
      .dump();
}

}  // namespace

TEST(ChatHistoryE2E, RelayedChatIsStoredNewestFirst) {
  Stack stack;
  ASSERT_TRUE(stack.started());
  auto teacher = stack.enter("teacher");
  ASSERT_TRUE(teacher);
  const unsigned id = teacher->login.id;
  for (const char* text : {"第一条", "second & third = 3%"})
    ASSERT_EQ(teacher->client->send(chatText(id, text).c_str(), "*"), velmsg::send_queued);
  // Not chat: relayed but not kept.
  const std::string removal = R"({"typeId":"60","sendUserId":)" + std::to_string(id) + "}";
  ASSERT_EQ(teacher->client->send(removal.c_str(), "*"), velmsg::send_queued);
  // The echoes arrive once the service has stored the two.
  ASSERT_TRUE(eventually([&] { return teacher->observer.texts().size() == 3; }));
  EXPECT_EQ(teacher->observer.texts()[2], removal);

  // The demo room has older messages; ours are the newest two.
  const auto history = stack.history(*teacher);
  ASSERT_GE(history.size(), 2u);
  EXPECT_EQ(history[0], "second & third = 3%");
  EXPECT_EQ(history[1], "第一条");
}

TEST(ChatHistoryE2E, MutedAndAuditorChatIsNeitherRelayedNorStored) {
  Stack stack;
  ASSERT_TRUE(stack.started());
  auto teacher = stack.enter("teacher");
  auto muted = stack.enter("student3");
  auto auditor = stack.enter("auditor");
  auto student = stack.enter("student1");
  ASSERT_TRUE(teacher && muted && auditor && student);
  const json mute = stack.post(
      "rms/service/room/addRoomBlack",
      "globalId=" + std::to_string(muted->login.id) + "&roomId=1001&type=1&optionUser=10001",
      teacher->login.ticket);
  ASSERT_EQ(mute.value("code", -1), 0);

  // Each refusal is final before the next chat is sent, so a refused chat that
  // were relayed would reach the teacher ahead of the student's.
  ASSERT_EQ(muted->client->send(chatText(muted->login.id, "muted words").c_str(), "*"), 0);
  ASSERT_TRUE(eventually([&] { return stack.msg->stats().chat_refused == 1; }));
  ASSERT_EQ(auditor->client->send(chatText(auditor->login.id, "auditor words").c_str(), "*"), 0);
  ASSERT_TRUE(eventually([&] { return stack.msg->stats().sends_refused == 1; }));
  ASSERT_EQ(student->client->send(chatText(student->login.id, "normal words").c_str(), "*"), 0);

  ASSERT_TRUE(eventually([&] { return !teacher->observer.texts().empty(); }));
  ASSERT_EQ(teacher->observer.texts().size(), 1u);
  EXPECT_EQ(json::parse(teacher->observer.texts()[0]).value("content", ""), "normal words");
  const auto history = stack.history(*teacher);
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history[0], "normal words");
  for (const std::string& content : history) {
    EXPECT_NE(content, "muted words");
    EXPECT_NE(content, "auditor words");
  }
  // Refusals close nothing: the muted member still hears the room.
  ASSERT_TRUE(eventually([&] { return !muted->observer.texts().empty(); }));
  EXPECT_EQ(json::parse(muted->observer.texts().back()).value("content", ""), "normal words");
}

// The name and role a chat shows (the teacher's colour for role 1) are the
// service's, live and in the history, whatever the sender wrote.
TEST(ChatHistoryE2E, ChatShowsTheSendersOwnNameAndRole) {
  Stack stack;
  ASSERT_TRUE(stack.started());
  auto teacher = stack.enter("teacher");
  auto student = stack.enter("student1");
  ASSERT_TRUE(teacher && student);
  json forged = json::parse(chatText(student->login.id, "下课了，都回家吧"));
  forged["sendUsername"] = "王老师";
  forged["sendUserRole"] = "1";
  forged["sendUserImg"] = "avatar/user-10001.bmp";
  forged["voiceSeconds"] = "3";  // other keys pass as they are
  ASSERT_EQ(student->client->send(forged.dump().c_str(), "*"), velmsg::send_queued);

  ASSERT_TRUE(eventually([&] { return !teacher->observer.texts().empty(); }));
  const json live = json::parse(teacher->observer.texts()[0], nullptr, false);
  const json stored = stack.records(*teacher).at(0);
  for (const json& seen : {live, stored}) {
    ASSERT_TRUE(seen.is_object());
    EXPECT_EQ(seen.value("content", ""), "下课了，都回家吧");
    EXPECT_EQ(seen.value("sendUsername", ""), "张小明");
    EXPECT_EQ(seen.value("sendUserRole", ""), "2");
    EXPECT_NE(seen.value("sendUserImg", ""), "avatar/user-10001.bmp");
    EXPECT_EQ(seen.value("sendUserId", 0u), student->login.id);
    EXPECT_EQ(seen.value("voiceSeconds", ""), "3");
  }
}

// Chat is limited in bytes of its text (6000) by the message server, and
// anything within that is stored and relayed, whatever its characters (900
// Chinese ones, or nearly 2000 of them). One byte more is refused before the
// service is asked, and the room hears nothing of it.
TEST(ChatHistoryE2E, ChatUpToItsLimitInBytesIsRelayedAndStoredWhateverItsCharacters) {
  Stack stack;
  ASSERT_TRUE(stack.started());
  auto teacher = stack.enter("teacher");
  auto student = stack.enter("student1");
  ASSERT_TRUE(teacher && student);
  const unsigned id = student->login.id;
  std::string hundreds;
  for (int i = 0; i < 900; ++i)
    hundreds += "汉";
  // Exactly 6000 bytes of text, Chinese but for the few ASCII bytes that make it even.
  const std::size_t room = 6000 - chatText(id, "").size();
  std::string longest(room % 3, '&');
  while (longest.size() < room)
    longest += "字";
  ASSERT_EQ(chatText(id, longest).size(), 6000u);
  for (const std::string& text :
       {chatText(id, hundreds), chatText(id, longest + "x"), chatText(id, longest)})
    ASSERT_EQ(student->client->send(text.c_str(), "*"), velmsg::send_queued);

  ASSERT_TRUE(eventually([&] { return teacher->observer.texts().size() == 2; }));
  EXPECT_EQ(json::parse(teacher->observer.texts()[0]).value("content", ""), hundreds);
  EXPECT_EQ(json::parse(teacher->observer.texts()[1]).value("content", ""), longest);
  const auto history = stack.history(*teacher);
  ASSERT_GE(history.size(), 2u);
  EXPECT_EQ(history[1], hundreds);
  EXPECT_EQ(history[0], longest);
  EXPECT_EQ(stack.msg->stats().sends_refused, 1u);
  EXPECT_EQ(stack.msg->stats().chat_failed, 0u);
}
