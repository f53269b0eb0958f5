// pavo-bot driven through its standard input and output, in a room of the real MCU.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TestCredentials.h"
#include "bot_process.h"
#include "mcu/server.h"

namespace bot_test {
namespace {

class BotTest : public ::testing::Test {
protected:
  void SetUp() override {
    mcu::Config config;
    config.listen_port = 0;
    config.media_port_base = 0;
    config.internal_token = testsupport::kTestSecret;
    server = std::make_unique<mcu::Server>(config);
    port = server->start();
    ASSERT_NE(port, 0);
  }

  std::unique_ptr<bot_process> join(uint32_t user, const std::string& role,
                                    std::vector<std::string> extra = {}) {
    std::vector<std::string> args{
        "--mcu",        "127.0.0.1:" + std::to_string(port),
        "--room",       "1001",
        "--user",       std::to_string(user),
        "--credential", testsupport::testCredential(user, 1001, role == "teacher" ? 1 : 2),
        "--role",       role};
    args.insert(args.end(), extra.begin(), extra.end());
    auto bot = std::make_unique<bot_process>(args);
    EXPECT_TRUE(bot->started());
    EXPECT_TRUE(bot->expect("connected"));
    return bot;
  }

  std::unique_ptr<mcu::Server> server;
  uint16_t port = 0;
};

TEST_F(BotTest, TwoBotsHoldAClass) {
  auto teacher = join(10001, "teacher");
  auto student = join(10003, "student");
  ASSERT_TRUE(teacher->expect("user_enter 10003 "));

  teacher->send("start");
  EXPECT_TRUE(teacher->expect("result start 0"));
  EXPECT_TRUE(teacher->expect("start_class_ack 0"));
  EXPECT_TRUE(student->expect("ss_start_class 10001"));

  teacher->send("sendsize 10003 10240");
  auto big = student->expect("p2p_msg 10001 10240 ");
  ASSERT_TRUE(big);
  const std::string text = big->substr(std::string("p2p_msg 10001 10240 ").size());
  ASSERT_EQ(text.size(), 10240u);
  EXPECT_EQ(text.substr(0, 12), "012345678901");
  EXPECT_EQ(text.substr(10230), "0123456789");
  EXPECT_TRUE(teacher->expect("p2p_msg_ack 10003 0"));

  student->send("send * hand up\tplease");
  EXPECT_TRUE(teacher->expect("p2all_msg 10003 14 hand up\\tplease"));

  teacher->send("tag-start");
  EXPECT_TRUE(student->expect("ss_start_tag 10001"));
  // The teacher lets the student write: it frees the board, which the student then takes.
  teacher->send("tag-stop 10001");
  EXPECT_TRUE(student->expect("ss_stop_tag 10001"));
  student->send("tag-start");
  EXPECT_TRUE(teacher->expect("ss_start_tag 10003"));
  teacher->send("tag-users");
  EXPECT_TRUE(teacher->expect("get_tag_users_ack 0 1 10003"));

  student->send("apply");
  EXPECT_TRUE(teacher->expect("ss_application_share 10003"));
  teacher->send("reply 10003 1");
  EXPECT_TRUE(student->expect("ss_reply_share 10003 1"));
  student->send("share-start");
  EXPECT_TRUE(teacher->expect("ss_start_share 10003"));

  student->send("nonsense");
  EXPECT_TRUE(student->expect("error unknown command"));
  student->send("quit");
  EXPECT_TRUE(student->expect("bye"));
  EXPECT_EQ(student->finish(), 0);
  // Leaving gives the floors back.
  EXPECT_TRUE(teacher->expect("ss_stop_tag 10003"));
  EXPECT_TRUE(teacher->expect("ss_stop_share 10003"));
  EXPECT_TRUE(teacher->expect("user_leave 10003"));
  EXPECT_EQ(teacher->finish(), 0);  // end of input leaves too
}

// The camera and microphone come from the synthetic devices the bot turns on itself (the
// test sets no TAV_FAKE_* variables).
TEST_F(BotTest, OpensMediaAndSubscribes) {
  auto teacher = join(10001, "teacher", {"--open", "audio,video"});
  // Both senders run before the student joins, so it learns of them on entry.
  ASSERT_TRUE(teacher->expect("media_open 10001 2"));
  ASSERT_TRUE(teacher->expect("media_open 10001 1"));
  auto student = join(10003, "student", {"--auto-subscribe"});
  auto existing = student->expect("existing_media");
  ASSERT_TRUE(existing);
  EXPECT_EQ(*existing, "existing_media 10001:3");
}

// "devices <cameras> <microphones> <speakers>" of a bot started with `args`.
std::vector<int> device_counts(const std::vector<std::string>& args) {
  std::vector<std::string> all{"--room", "1",           "--user",       "1",
                               "--mcu",  "127.0.0.1:1", "--credential", "unused"};
  all.insert(all.end(), args.begin(), args.end());
  bot_process bot(all);
  EXPECT_TRUE(bot.started());
  EXPECT_TRUE(bot.expect("created"));
  bot.send("devices");
  auto line = bot.expect("devices ");
  std::vector<int> counts;
  if (line) {
    std::istringstream words(line->substr(8));
    for (int n; words >> n;)
      counts.push_back(n);
  }
  bot.send("quit");
  EXPECT_TRUE(bot.expect("bye"));
  return counts;
}

// Sets an environment variable for the bots this test starts, and puts it back after.
class scoped_env {
public:
  scoped_env(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name))
      old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~scoped_env() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(BotDevices, TurnsOnTheSyntheticCameraAndMicrophoneUnlessToldOtherwise) {
  scoped_env no_camera("TAV_FAKE_CAMERA", nullptr), no_microphone("TAV_FAKE_MICROPHONE", nullptr);
  const std::vector<int> machine = device_counts({"--real-devices"});
  const std::vector<int> synthetic = device_counts({});
  ASSERT_EQ(machine.size(), 3u);
  ASSERT_EQ(synthetic.size(), 3u);
  EXPECT_EQ(synthetic[0], machine[0] + 1);
  EXPECT_EQ(synthetic[1], machine[1] + 1);
  // What the environment says stands: here, no synthetic camera.
  scoped_env camera_off("TAV_FAKE_CAMERA", "0");
  const std::vector<int> told = device_counts({});
  ASSERT_EQ(told.size(), 3u);
  EXPECT_EQ(told[0], machine[0]);
  EXPECT_EQ(told[1], machine[1] + 1);
}

TEST_F(BotTest, ExitsWhenDisconnectedIfAsked) {
  auto student = join(10003, "student", {"--exit-on-disconnect"});
  ASSERT_TRUE(server->disconnect_user(1001, 10003));
  EXPECT_TRUE(student->expect("disconnected"));
  EXPECT_EQ(student->finish(), 3);
}

TEST(BotFlags, RefusesBadFlags) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--user", "1", "--credential", "c"},
        {"--room", "1", "--user", "x", "--credential", "c"},
        {"--room", "1", "--user", "1"},  // neither a credential nor a login
        {"--room", "1", "--login", "student1"},
        {"--room", "1", "--login", "student1", "--password", "p", "--credential", "c"},
        {"--room", "1", "--login", "student1", "--password", "p", "--service", "nohost"},
        {"--room", "1", "--user", "1", "--credential", "c", "--mcu", "nohost"},
        {"--room", "1", "--user", "1", "--credential", "c", "--role", "king"}}) {
    bot_process bot(args);
    ASSERT_TRUE(bot.started());
    EXPECT_EQ(bot.finish(), 2) << args.back();
  }
  bot_process help({"--help"});
  EXPECT_TRUE(help.expect("usage: pavo-bot"));
  EXPECT_TRUE(help.expect("  --real-devices"));
  EXPECT_EQ(help.finish(), 0);
}

}  // namespace
}  // namespace bot_test
