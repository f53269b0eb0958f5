// The room audio end to end on loopback, through the real MCU: pavo-bot processes publish
// the synthetic microphone (a tone each) and play what they hear into SDL's disk driver;
// and a libpavo audio receiver listens through a lossy link to measure what redundancy
// recovers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio_packet.h"
#include "audio_rtp_recv.h"
#include "audio_test_support.h"
#include "audio_tones.h"
#include "eventually.h"
#include "mcu/media_router.h"
#include "mcu/server.h"
#include "TestCredentials.h"
#include "raw_client.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using audio_test::tone_level;
using clock_type = std::chrono::steady_clock;

constexpr uint32_t room_id = 2001;

using testsupport::eventually;

// A one-second 16-bit stereo 48 kHz WAV of a tone, looped by the synthetic microphone.
void write_tone_wav(const fs::path& path, double frequency) {
  const uint32_t frames = 48000, data_bytes = frames * 4;
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + data_bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(2);
  u32(48000);
  u32(48000 * 4);
  u16(4);
  u16(16);
  out.write("data", 4);
  u32(data_bytes);
  for (uint32_t i = 0; i < frames; ++i) {
    // Whole periods in one second, so the loop has no seam.
    const auto v =
        static_cast<int16_t>(8000 * std::sin(2 * audio_test::pi * frequency * i / 48000.0));
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v));
  }
}

// A pavo-bot child with its own environment; its output goes to a log file.
class bot_child {
public:
  bot_child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
            const fs::path& log) {
    const char* bin = std::getenv("TAV_BIN_DIR");
    const std::string program = std::string(bin ? bin : ".") + "/pavo-bot";
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (!env.count(entry.substr(0, entry.find('='))))
        environment.push_back(entry);
    }
    for (const auto& [key, value] : env)
      environment.push_back(key + "=" + value);
    std::vector<char*> envp, argv;
    for (auto& e : environment)
      envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    for (auto& a : all)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    int in[2];
    // Close-on-exec: other children must not hold this input open, or it never ends.
    if (pipe2(in, O_CLOEXEC) != 0)
      return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    in_ = in[1];
  }
  ~bot_child() { finish(); }

  bool started() const { return pid_ > 0; }
  void send(const std::string& line) {
    const std::string text = line + "\n";
    if (in_ >= 0 && write(in_, text.data(), text.size()) < 0)
      std::perror("bot input");
  }
  // Leaves (end of input) and waits for the exit; killed after a generous limit.
  int finish() {
    if (pid_ <= 0)
      return exit_code_;
    if (in_ >= 0) {
      close(in_);
      in_ = -1;
    }
    int status = 0;
    const auto deadline = clock_type::now() + testsupport::wait_limit();
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (clock_type::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exit_code_;
  }

private:
  pid_t pid_ = -1;
  int in_ = -1;
  int exit_code_ = -1;
};

uintmax_t recorded_bytes(const fs::path& path) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

// The left channel of a raw 16-bit stereo recording, seconds [from, to) counted back from
// its end.
std::vector<float> recorded_tail(const fs::path& path, double from_end, double to_end) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t frames = raw.size() / 4;
  const auto first = static_cast<size_t>(std::max(0.0, frames - from_end * 48000));
  const auto last = static_cast<size_t>(std::max(0.0, frames - to_end * 48000));
  std::vector<float> left;
  for (size_t f = first; f < last; ++f) {
    int16_t v;
    std::memcpy(&v, raw.data() + f * 4, 2);
    left.push_back(v);
  }
  return left;
}

bool publishes_audio(const mcu::Server& server, uint32_t user) {
  for (const auto& room : server.rooms())
    for (const auto& m : room.members)
      if (m.user_id == user && (m.published & 2))
        return true;
  return false;
}
bool is_member(const mcu::Server& server, uint32_t user) {
  for (const auto& room : server.rooms())
    for (const auto& m : room.members)
      if (m.user_id == user)
        return true;
  return false;
}

class RoomAudio : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("tav_audio_e2e_" + std::to_string(getpid()));
    fs::create_directories(dir);
    mcu::Config config;
    config.listen_port = 0;
    config.media_port_base = 0;
    config.internal_token = testsupport::kTestSecret;
    mcu::media_router_options media;
    media.port_base = 0;
    router = std::make_shared<mcu::media_router>(media);
    config.relay = router;
    server = std::make_unique<mcu::Server>(config);
    port = server->start();
    ASSERT_NE(port, 0);
    // The bots' working folder: libpavo starts only beside a valid videoparam.conf.
    std::ofstream param(dir / "videoparam.conf");
    for (const char* who : {"teacher", "student", "share"})
      param << who << " width : 640\n"
            << who << " height : 480\n"
            << who << " fps : 15\n"
            << who << " start bitrate : 400\n"
            << who << " min bitrate : 100\n"
            << who << " max bitrate : 600\n";
  }
  void TearDown() override {
    bots.clear();
    server.reset();
    router.reset();
    if (HasFailure()) {
      for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".log")
          continue;
        std::ifstream log(entry.path());
        std::printf("--- %s\n%s\n", entry.path().filename().c_str(),
                    std::string(std::istreambuf_iterator<char>(log), {}).c_str());
      }
    }
    std::error_code ec;
    if (HasFailure())
      std::printf("recordings kept in %s\n", dir.c_str());
    else
      fs::remove_all(dir, ec);
  }

  // A bot that publishes the synthetic microphone (playing `wav`) from the moment it is
  // connected, or only listens (no `wav`).
  bot_child& start_bot(uint32_t user, const std::string& wav) {
    std::map<std::string, std::string> env{
        {"SDL_AUDIODRIVER", "disk"},
        {"SDL_DISKAUDIOFILE", (dir / ("heard_" + std::to_string(user) + ".raw")).string()},
        {"TAV_FAKE_MICROPHONE", "1"}};
    std::vector<std::string> args{"--mcu",        "127.0.0.1:" + std::to_string(port),
                                  "--room",       std::to_string(room_id),
                                  "--user",       std::to_string(user),
                                  "--credential", testsupport::testCredential(user, room_id),
                                  "--workdir",    dir.string()};
    if (!wav.empty()) {
      env["TAV_FAKE_MICROPHONE_WAV"] = wav;
      // Opened from the connect event: a command sent once the MCU lists the member could
      // reach the bot before its library has seen the login answer, and be refused.
      args.push_back("--open");
      args.push_back("audio");
    }
    bots.push_back(
        std::make_unique<bot_child>(args, env, dir / ("bot_" + std::to_string(user) + ".log")));
    return *bots.back();
  }
  fs::path heard(uint32_t user) const { return dir / ("heard_" + std::to_string(user) + ".raw"); }

  fs::path dir;
  std::shared_ptr<mcu::media_router> router;
  std::unique_ptr<mcu::Server> server;
  uint16_t port = 0;
  std::vector<std::unique_ptr<bot_child>> bots;
};

TEST_F(RoomAudio, EachMemberHearsTheOthersButNotItself) {
  const fs::path low = dir / "tone440.wav", high = dir / "tone1000.wav";
  write_tone_wav(low, 440);
  write_tone_wav(high, 1000);
  const uint32_t a = 30001, b = 30002, c = 30003;
  start_bot(a, low.string());
  start_bot(b, high.string());
  start_bot(c, "");
  for (const auto& bot : bots)
    ASSERT_TRUE(bot->started());
  ASSERT_TRUE(eventually(
      [&] { return is_member(*server, a) && is_member(*server, b) && is_member(*server, c); }));
  ASSERT_TRUE(
      eventually([&] { return publishes_audio(*server, a) && publishes_audio(*server, b); }));
  // Three seconds of what c plays, after everyone hears someone.
  ASSERT_TRUE(eventually([&] {
    return recorded_bytes(heard(a)) > 0 && recorded_bytes(heard(b)) > 0 &&
           recorded_bytes(heard(c)) > 0;
  }));
  const uintmax_t start = recorded_bytes(heard(c));
  ASSERT_TRUE(eventually([&] { return recorded_bytes(heard(c)) >= start + 3 * 48000 * 4; }));
  const mcu::media_router_stats relayed = router->stats();
  std::printf("relay: %llu audio datagrams in, %llu out\n",
              static_cast<unsigned long long>(relayed.datagrams_in),
              static_cast<unsigned long long>(relayed.datagrams_out));
  // Each leaves and closes its recording; a crash or sanitizer report shows in its exit code.
  for (const auto& bot : bots)
    EXPECT_EQ(bot->finish(), 0);
  bots.clear();

  const auto by_a = recorded_tail(heard(a), 2.0, 0.5);
  const auto by_b = recorded_tail(heard(b), 2.0, 0.5);
  const auto by_c = recorded_tail(heard(c), 2.0, 0.5);
  ASSERT_FALSE(by_c.empty());
  const double c440 = tone_level(by_c, 440), c1000 = tone_level(by_c, 1000);
  std::printf("c hears 440 Hz %.1f, 1000 Hz %.1f, 700 Hz %.3f\n", c440, c1000,
              tone_level(by_c, 700));
  EXPECT_GT(c440, 100 * tone_level(by_c, 700));
  EXPECT_GT(c1000, 100 * tone_level(by_c, 700));
  EXPECT_GT(c440, 0.1 * c1000);
  EXPECT_GT(c1000, 0.1 * c440);
  // A publisher hears the other one, never its own tone.
  EXPECT_GT(tone_level(by_a, 1000), 100 * tone_level(by_a, 440));
  EXPECT_GT(tone_level(by_b, 440), 100 * tone_level(by_b, 1000));
}

// Forwards the MCU's audio to a listener, dropping datagrams on the way: at random, or in
// bursts. Registrations go the other way untouched.
class lossy_proxy {
public:
  lossy_proxy(uint16_t mcu_port, double loss, int burst, uint32_t seed)
      : loss_(loss), burst_(burst), random_(seed) {
    near_ = bound_socket(&near_port_);
    far_ = bound_socket(nullptr);
    mcu_.sin_family = AF_INET;
    mcu_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    mcu_.sin_port = htons(mcu_port);
    thread_ = std::thread([this] { run(); });
  }
  ~lossy_proxy() {
    stop_ = true;
    thread_.join();
    close(near_);
    close(far_);
  }
  uint16_t port() const { return near_port_; }
  uint64_t forwarded() const { return forwarded_; }
  uint64_t dropped() const { return dropped_; }

private:
  static int bound_socket(uint16_t* port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    if (port)
      *port = ntohs(addr.sin_port);
    return fd;
  }
  void run() {
    std::uniform_real_distribution<double> chance(0, 1);
    std::vector<uint8_t> buffer(2048);
    sockaddr_in listener{};
    bool have_listener = false;
    int dropping = 0;
    while (!stop_) {
      pollfd fds[2] = {{near_, POLLIN, 0}, {far_, POLLIN, 0}};
      if (poll(fds, 2, 50) <= 0)
        continue;
      if (fds[0].revents & POLLIN) {
        socklen_t len = sizeof listener;
        const ssize_t n = recvfrom(near_, buffer.data(), buffer.size(), 0,
                                   reinterpret_cast<sockaddr*>(&listener), &len);
        have_listener = true;
        if (n > 0)
          sendto(far_, buffer.data(), static_cast<size_t>(n), 0,
                 reinterpret_cast<const sockaddr*>(&mcu_), sizeof mcu_);
      }
      if (fds[1].revents & POLLIN) {
        const ssize_t n = recv(far_, buffer.data(), buffer.size(), 0);
        if (n <= 0 || !have_listener)
          continue;
        if (dropping == 0 && chance(random_) < loss_ / burst_)
          dropping = burst_;
        if (dropping > 0) {
          --dropping;
          ++dropped_;
          continue;
        }
        ++forwarded_;
        sendto(near_, buffer.data(), static_cast<size_t>(n), 0,
               reinterpret_cast<const sockaddr*>(&listener), sizeof listener);
      }
    }
  }

  const double loss_;
  const int burst_;
  std::mt19937 random_;
  int near_ = -1, far_ = -1;
  uint16_t near_port_ = 0;
  sockaddr_in mcu_{};
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> forwarded_{0}, dropped_{0};
  std::thread thread_;
};

struct loss_figure {
  uint64_t played = 0, concealed = 0, dropped = 0, forwarded = 0;
};

// One publisher (raw control client, tone datagrams paced at 20 ms) and one listener (the
// libpavo audio receiver) behind a lossy proxy, for `frames` frames.
loss_figure measure_loss(uint16_t mcu_port, uint32_t first_id, double loss, int burst, int frames) {
  loss_figure figure;
  const uint32_t speaker = first_id, listener_id = first_id + 1;
  auto publisher = mcu_test::member(mcu_port, room_id, speaker);
  auto listener = mcu_test::member(mcu_port, room_id, listener_id);
  if (!publisher || !listener)
    return figure;
  publisher->send(4, mcu_test::be32({speaker, 2}));
  const auto opened = publisher->expect(9);
  if (!opened || opened->payload.size() != 10)
    return figure;
  const uint16_t publish_port = mcu_test::half(opened->payload, 8);
  if (!listener->expect(11))
    return figure;
  listener->send(19, mcu_test::be32({speaker, 2}));
  const auto subscribed = listener->expect(21);
  if (!subscribed || subscribed->payload.size() != pavo_wire::media_port_payload)
    return figure;
  const uint16_t listen_port = mcu_test::half(subscribed->payload, 8);

  lossy_proxy proxy(listen_port, loss, burst, 7);
  auto player = std::make_unique<pavo_test::recording_player>();
  pavo_test::recording_player* plays = player.get();
  audio_rtp_recv receiver("127.0.0.1", proxy.port(), listener_id, std::move(player),
                          mcu_test::token_of(subscribed->payload));

  pavo_test::udp_peer uplink;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(publish_port);
  audio_test::tone_encoder tone(440, 8000);
  mcu::audio_stream_packetizer packetizer(speaker);
  // The microphone's pace: one frame per 20 ms.
  auto next = clock_type::now();
  auto send_frame = [&] {
    const auto frame = tone.next();
    uplink.send_to(to, packetizer.next(frame.data(), static_cast<unsigned>(frame.size()), 960));
    next += std::chrono::milliseconds(20);
    std::this_thread::sleep_until(next);
  };
  auto accounted = [&] {
    std::lock_guard<std::mutex> lock(plays->mutex);
    return std::make_pair(uint64_t{plays->played.size()}, uint64_t{plays->concealed});
  };
  // The MCU learns where the listener is from its registration; until a first frame plays,
  // the stream is not through and nothing sent counts.
  if (!testsupport::eventually([&] {
        send_frame();
        return accounted().first > 0;
      }))
    return figure;
  const auto before = accounted();
  const uint64_t dropped_before = proxy.dropped(), forwarded_before = proxy.forwarded();
  next = clock_type::now();
  for (int i = 0; i < frames; ++i)
    send_frame();
  // Every frame sent ends up played or concealed; the last few may still be on their way or
  // in the jitter buffer.
  testsupport::eventually([&] {
    const auto now = accounted();
    return now.first + now.second >= before.first + before.second + frames - 10;
  });
  const auto after = accounted();
  figure.played = after.first - before.first;
  figure.concealed = after.second - before.second;
  figure.dropped = proxy.dropped() - dropped_before;
  figure.forwarded = proxy.forwarded() - forwarded_before;
  return figure;
}

TEST_F(RoomAudio, RedundancyRecoversMostFramesLostOnTheWayToTheListener) {
  const loss_figure random = measure_loss(port, 40001, 0.10, 1, 250);
  const loss_figure bursts = measure_loss(port, 40011, 0.05, 3, 250);
  for (const auto& [name, f] :
       {std::pair<const char*, loss_figure>{"10% random", random}, {"5% in bursts of 3", bursts}}) {
    const double datagram_loss = f.dropped / std::max(1.0, double(f.dropped + f.forwarded));
    const double frame_loss = f.concealed / std::max(1.0, double(f.played + f.concealed));
    std::printf(
        "loss %s: %.1f%% of datagrams dropped, %.2f%% of frames lost after redundancy "
        "(%llu played)\n",
        name, 100 * datagram_loss, 100 * frame_loss, static_cast<unsigned long long>(f.played));
  }
  ASSERT_GT(random.played, 150u);
  ASSERT_GT(random.dropped, 5u);
  EXPECT_LT(random.concealed, random.dropped / 4);
  ASSERT_GT(bursts.played, 150u);
  EXPECT_LT(bursts.concealed, bursts.dropped);
}

}  // namespace
