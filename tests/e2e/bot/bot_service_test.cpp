// pavo-bot entering a room as the client does: it logs in to the real service, which hands
// out the room credential that the real MCU checks (both given the same secret).
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "TestCredentials.h"
#include "bot_process.h"
#include "mcu/server.h"
#include "service/Service.h"

namespace bot_test {
namespace {

namespace fs = std::filesystem;

class BotService : public ::testing::Test {
protected:
  void SetUp() override {
    mcu::Config media;
    media.listen_port = 0;
    media.media_port_base = 0;
    media.internal_token = testsupport::kTestSecret;
    mcu = std::make_unique<mcu::Server>(media);
    const uint16_t mcu_port = mcu->start();
    ASSERT_NE(mcu_port, 0);
    dir = fs::temp_directory_path() / ("tav_bot_service_" + std::to_string(getpid()));
    tavsvc::ServiceConfig config;
    config.port = 0;
    config.dataDir = dir.string();
    config.mcus = {{"127.0.0.1", mcu_port}};
    config.demoVideos = false;
    config.passwordStrength = tavsvc::PasswordStrength::Minimum;
    config.internalToken = testsupport::kTestSecret;
    service = std::make_unique<tavsvc::Service>(config);
    std::string error;
    ASSERT_TRUE(service->start(&error)) << error;
  }
  void TearDown() override {
    service.reset();
    mcu.reset();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  std::vector<std::string> args(const std::string& password) const {
    return {"--room",     "1001",   "--login",   "student1",
            "--password", password, "--service", "127.0.0.1:" + std::to_string(service->port())};
  }

  fs::path dir;
  std::unique_ptr<mcu::Server> mcu;
  std::unique_ptr<tavsvc::Service> service;
};

TEST_F(BotService, EntersTheRoomWithTheCredentialTheServiceHandsOut) {
  bot_process bot(args("123456"));
  ASSERT_TRUE(bot.started());
  EXPECT_TRUE(bot.expect("created 10003 1001"));  // the account's id, from the login
  ASSERT_TRUE(bot.expect("connected"));
  const auto rooms = mcu->rooms();
  ASSERT_EQ(rooms.size(), 1u);
  ASSERT_EQ(rooms[0].members.size(), 1u);
  EXPECT_EQ(rooms[0].members[0].user_id, 10003u);
  EXPECT_EQ(mcu->stats().refused_logins, 0u);
}

TEST_F(BotService, AWrongPasswordEndsItBeforeTheMcu) {
  bot_process bot(args("not the password"));
  ASSERT_TRUE(bot.started());
  EXPECT_EQ(bot.finish(), 1);
  EXPECT_EQ(mcu->stats().joins + mcu->stats().refused_joins, 0u);
}

}  // namespace
}  // namespace bot_test
