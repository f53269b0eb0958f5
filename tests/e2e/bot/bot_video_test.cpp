// pavo-bot with video: one bot publishes the synthetic camera through the real MCU, another
// subscribes, counts the decoded frames and writes the newest picture out.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "TestCredentials.h"
#include "bot_process.h"
#include "eventually.h"
#include "mcu/server.h"

namespace bot_test {
namespace {

// The count of (user, kind) in a "frames u:k:n ..." line; 0 when absent.
long frames_of(const std::string& line, const std::string& stream) {
  std::istringstream words(line);
  for (std::string word; words >> word;)
    if (word.rfind(stream + ":", 0) == 0)
      return std::atol(word.c_str() + stream.size() + 1);
  return 0;
}

TEST(BotVideo, ASubscriberDecodesTheSyntheticCameraAndDumpsAPicture) {
  mcu::Config config;
  config.listen_port = 0;
  config.media_port_base = 0;
  config.internal_token = testsupport::kTestSecret;
  mcu::Server server(config);
  const uint16_t port = server.start();
  ASSERT_NE(port, 0);
  auto bot = [&](uint32_t user, const std::string& role, std::vector<std::string> extra) {
    std::vector<std::string> args{
        "--mcu",        "127.0.0.1:" + std::to_string(port),
        "--room",       "1001",
        "--user",       std::to_string(user),
        "--credential", testsupport::testCredential(user, 1001, role == "teacher" ? 1 : 2),
        "--role",       role};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<bot_process>(args);
  };
  auto student = bot(10003, "student", {"--auto-subscribe"});
  ASSERT_TRUE(student->expect("connected"));
  auto teacher = bot(10001, "teacher", {"--open", "video"});
  ASSERT_TRUE(teacher->expect("connected"));
  ASSERT_TRUE(student->expect("media_open 10001 1"));

  // Asked until ten pictures are in; each answer is waited for.
  long decoded = 0;
  EXPECT_TRUE(testsupport::eventually([&] {
    student->send("frames");
    auto line = student->expect("frames");
    decoded = line ? frames_of(*line, "10001:1") : 0;
    return decoded >= 10;
  })) << decoded
      << " pictures";

  char folder[] = "/tmp/bot-video-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/teacher.ppm";
  student->send("dump 10001 1 " + path);
  EXPECT_TRUE(student->expect("result dump 0"));
  student->send("dump 10001 4 " + path + ".none");  // no such stream
  EXPECT_TRUE(student->expect("result dump -1"));
  std::ifstream image(path, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, depth = 0;
  image >> magic >> width >> height >> depth;
  EXPECT_EQ(magic, "P6");
  EXPECT_GT(width, 0);
  EXPECT_GT(height, 0);
  EXPECT_EQ(depth, 255);
  image.get();
  std::string pixels((std::istreambuf_iterator<char>(image)), std::istreambuf_iterator<char>());
  EXPECT_EQ(pixels.size(), static_cast<std::size_t>(width) * height * 3);
  std::remove(path.c_str());
  std::remove(folder);
}

}  // namespace
}  // namespace bot_test
