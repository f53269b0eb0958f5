#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio_output.h"
#include "test_support.h"

using namespace testing_support;

namespace {

// A loopback TCP port that takes connections (the kernel completes them from the backlog)
// but never says a word: a hung sound server.
class SilentServer {
public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  int port() const { return port_; }

private:
  int fd_ = -1;
  int port_ = 0;
};

class AudioOutputTest : public ::testing::Test {
protected:
  void SetUp() override {
    // No sound server of the machine is reachable from here: an empty runtime folder, and no
    // X display to look a server up on.
    env.set("XDG_RUNTIME_DIR", tmp / "run");
    makeDirs(tmp / "run");
    env.set("HOME", tmp / "home");
    env.unset("DISPLAY");
    env.unset("PULSE_SERVER");
  }

  // Lists and sets, and checks that both fail with a reason.
  static void expectRefusals() {
    std::string error;
    EXPECT_TRUE(platform::audioOutputs(&error).empty());
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(platform::setDefaultAudioOutput("alsa_output.test", &error));
    EXPECT_FALSE(error.empty());
  }

  TempDir tmp;
  ScopedEnv env;
};

TEST_F(AudioOutputTest, WithoutASoundServerNothingIsListedOrSet) {
  expectRefusals();
  std::string error;
  EXPECT_FALSE(platform::setDefaultAudioOutput("", &error));
  EXPECT_EQ(error, "no audio output given");
  EXPECT_TRUE(platform::audioOutputs().empty());  // the error is optional
}

TEST_F(AudioOutputTest, ARefusedServerAddressFailsAtOnce) {
  int closed_port = 0;
  {
    SilentServer gone;
    closed_port = gone.port();
  }
  ASSERT_GT(closed_port, 0);
  env.set("PULSE_SERVER", "tcp:127.0.0.1:" + std::to_string(closed_port));
  expectRefusals();
}

TEST_F(AudioOutputTest, AServerThatNeverAnswersDoesNotHang) {
  SilentServer silent;
  ASSERT_GT(silent.port(), 0);
  env.set("PULSE_SERVER", "tcp:127.0.0.1:" + std::to_string(silent.port()));
  std::string error;
  EXPECT_TRUE(platform::audioOutputs(&error).empty());
  EXPECT_EQ(error, "PulseAudio: no answer from the sound server");

  // Calls are independent of each other and of the calling thread.
  std::vector<std::future<bool>> calls;
  for (int i = 0; i < 4; ++i) {
    calls.push_back(std::async(std::launch::async, [i] {
      return i % 2 ? platform::audioOutputs().empty()
                   : !platform::setDefaultAudioOutput("alsa_output.test");
    }));
  }
  for (auto& call : calls)
    EXPECT_TRUE(call.get());
}

}  // namespace
