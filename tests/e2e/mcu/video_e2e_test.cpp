// Video end to end on loopback: a teacher publishes the synthetic camera through the real MCU
// and students subscribe and decode it (libpavo as the client loads it). The pictures are
// compared with the teacher's own preview of the same capture, and the frame rate is checked
// with media datagrams dropped on the way.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "TestCredentials.h"
#include "eventually.h"
#include "libpavo/libpavo.h"
#include "mcu/media_router.h"
#include "mcu/server.h"
#include "recording_observer.h"

namespace {

using pavo_test::recording_observer;
using bytes = std::vector<uint8_t>;
using steady = std::chrono::steady_clock;

constexpr uint32_t room_id = 2002;
constexpr uint32_t teacher_id = 20001;
const std::chrono::milliseconds wait_limit = testsupport::wait_limit();
// The pictures as shown must stay this close to what was captured (320x240 at 300 kbit/s).
constexpr double psnr_floor_db = 35.0;

double psnr(const bytes& a, const bytes& b) {
  if (a.size() != b.size() || a.empty())
    return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  const double mse = sum / double(a.size());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The teacher's recent previews: what the camera captured, as the teacher saw it.
class preview_ring {
public:
  void add(const uint8_t* pixels, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    ring_.emplace_back(pixels, pixels + size);
    if (ring_.size() > 30)
      ring_.pop_front();
    ++count_;
    changed_.notify_all();
  }
  // The best match among the recent previews: the decoded picture's own capture.
  double best_psnr(const bytes& picture) {
    std::lock_guard<std::mutex> lock(mutex_);
    double best = 0;
    for (const bytes& p : ring_)
      best = std::max(best, psnr(picture, p));
    return best;
  }
  uint64_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  bool wait_count(uint64_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, wait_limit * 2, [&] { return count_ >= n; });
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<bytes> ring_;
  uint64_t count_ = 0;
};

// An observer that keeps video frames to itself: the teacher's previews go to the ring, the
// students count what they decode and compare every fifth picture with the previews.
class video_observer : public recording_observer {
public:
  preview_ring* previews = nullptr;  // the teacher fills it
  preview_ring* source = nullptr;    // students compare against it

  void on_media_event(int event, void* data) override {
    if (event != pavo_event_video_frame) {
      recording_observer::on_media_event(event, data);
      return;
    }
    auto* frame = static_cast<video_frame_t*>(data);
    const std::size_t size = static_cast<std::size_t>(frame->width) * frame->height * 3;
    if (previews && frame->kind == media_kind_video) {
      previews->add(frame->pixels, size);
    } else if (source) {
      std::unique_lock<std::mutex> lock(mutex_);
      const uint64_t n = ++decoded_;
      lock.unlock();
      if (n % 5 == 1) {
        const double quality = source->best_psnr(bytes(frame->pixels, frame->pixels + size));
        lock.lock();
        psnr_.push_back(quality);
        lock.unlock();
      }
      changed_.notify_all();
    }
    if (Libpavo* library = owner.load())
      library->media_ctrl(media_cmd_free_frame, frame->pixels);
  }

  uint64_t decoded() {
    std::lock_guard<std::mutex> lock(mutex_);
    return decoded_;
  }
  bool wait_decoded(uint64_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, wait_limit, [&] { return decoded_ >= n; });
  }
  std::vector<double> psnrs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return psnr_;
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t decoded_ = 0;
  std::vector<double> psnr_;
};

// The MCU's router, with the ports it hands out noted, so that a test can play an attacker
// who has found them.
class noted_relay : public mcu::media_relay {
public:
  explicit noted_relay(std::shared_ptr<mcu::media_router> router) : router_(std::move(router)) {}

  uint16_t open_publisher(uint32_t room, uint32_t user, uint32_t kind, uint32_t source) override {
    return note({false, 0, user, kind}, router_->open_publisher(room, user, kind, source));
  }
  void close_publisher(uint32_t room, uint32_t user, uint32_t kind) override {
    router_->close_publisher(room, user, kind);
  }
  uint16_t open_subscriber(uint32_t room, uint32_t listener, uint32_t publisher, uint32_t kind,
                           uint32_t source, const pavo_wire::media_token& token) override {
    return note({true, listener, publisher, kind},
                router_->open_subscriber(room, listener, publisher, kind, source, token));
  }
  void close_subscriber(uint32_t room, uint32_t listener, uint32_t publisher,
                        uint32_t kind) override {
    router_->close_subscriber(room, listener, publisher, kind);
  }
  void sender_started(uint32_t room, uint32_t user, uint32_t kind, uint32_t min_kbps) override {
    router_->sender_started(room, user, kind, min_kbps);
  }
  void loss_report(uint32_t room, uint32_t listener, const uint8_t* report,
                   unsigned length) override {
    router_->loss_report(room, listener, report, length);
  }
  void set_control_sender(control_sender sender) override {
    router_->set_control_sender(std::move(sender));
  }

  // The port of a publisher (listener 0) or a listener; 0 while none was handed out.
  uint16_t port(bool listening, uint32_t listener, uint32_t publisher, uint32_t kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = ports_.find(std::make_tuple(listening, listener, publisher, kind));
    return found == ports_.end() ? 0 : found->second;
  }

private:
  using key = std::tuple<bool, uint32_t, uint32_t, uint32_t>;
  uint16_t note(const key& k, uint16_t port) {
    std::lock_guard<std::mutex> lock(mutex_);
    ports_[k] = port;
    return port;
  }
  std::shared_ptr<mcu::media_router> router_;
  std::mutex mutex_;
  std::map<key, uint16_t> ports_;
};

// A UDP socket of someone who is not the member the ports belong to.
class intruder {
public:
  explicit intruder(const char* address)
      : socket_(io_, asio::ip::udp::endpoint(asio::ip::make_address_v4(address), 0)) {}
  void send(uint16_t port, const bytes& data) {
    asio::error_code ignored;
    socket_.send_to(asio::buffer(data),
                    asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port), 0,
                    ignored);
  }
  void register_as(uint16_t port, uint32_t user) {
    send(port, {uint8_t(user >> 24), uint8_t(user >> 16), uint8_t(user >> 8), uint8_t(user)});
  }
  // A packet of the teacher's camera as the MCU checks it (RTP, media type, the teacher's
  // SSRC), opening a key frame of garbage.
  static bytes forged_packet(uint16_t seq) {
    bytes p(1000, 0xa5);
    const uint32_t fields[] = {0x80E40000u | seq, 0x7f000000u, teacher_id, 0x01000000u};
    for (std::size_t i = 0; i < 4; ++i)
      for (std::size_t b = 0; b < 4; ++b)
        p[4 * i + b] = static_cast<uint8_t>(fields[i] >> (24 - 8 * b));
    p[16] = 1;     // the start code's last byte
    p[17] = 0x65;  // NAL unit 5: a key frame
    return p;
  }
  std::size_t waiting() {
    asio::error_code ignored;
    return socket_.available(ignored);
  }

private:
  asio::io_context io_;
  asio::ip::udp::socket socket_;
};

struct member {
  video_observer ui;
  Libpavo* library = nullptr;
  ~member() { Libpavo::destory(library); }
};

class VideoEndToEnd : public ::testing::Test {
protected:
  void start_mcu(double drop_in, double drop_out) {
    mcu::media_router_options media;
    media.port_base = 0;
    media.drop_from_publishers = drop_in;
    media.drop_to_listeners = drop_out;
    media.drop_seed = 11;
    router = std::make_shared<mcu::media_router>(media);
    noted = std::make_shared<noted_relay>(router);
    mcu::Config config;
    config.listen_port = 0;
    config.internal_token = testsupport::kTestSecret;
    config.probe_interval_ms = 0;
    config.relay = noted;
    server = std::make_unique<mcu::Server>(config);
    port = server->start();
    ASSERT_NE(port, 0);
  }

  void join(member& m, uint32_t id, user_role_t role) {
    // The credential's role is what the MCU believes (1 teacher, 2 student).
    const std::string credential =
        testsupport::testCredential(id, room_id, role == user_role_teacher ? 1 : 2);
    m.library = Libpavo::create(&m.ui, id, room_id, "127.0.0.1", port, role, credential.c_str());
    ASSERT_NE(m.library, nullptr);
    m.ui.owner = m.library;
    auto state = m.ui.next_event(pavo_event_connect_state);
    ASSERT_TRUE(state);
    ASSERT_EQ(state->args[0], 1);
  }

  void publish_camera() {
    teacher.ui.previews = &previews;
    join(teacher, teacher_id, user_role_teacher);
    user_media_kind_t camera{teacher_id, media_kind_video};
    ASSERT_EQ(teacher.library->media_ctrl(media_cmd_open_media, &camera), 0);
    auto opened = teacher.ui.next_event(pavo_event_media_open);
    ASSERT_TRUE(opened);
    ASSERT_EQ(opened->args, (std::vector<int64_t>{teacher_id, media_kind_video}));
  }

  void subscribe(member& m, uint32_t id) {
    m.ui.source = &previews;
    join(m, id, user_role_student);
    user_media_kind_t camera{teacher_id, media_kind_video};
    ASSERT_EQ(m.library->media_ctrl(media_cmd_subscribe, &camera), 0);
  }

  // Over `frames` captured frames after both students show pictures, the share each decoded.
  void measure_rate(uint64_t frames, double* rate1, double* rate2) {
    ASSERT_TRUE(student1.ui.wait_decoded(1));
    ASSERT_TRUE(student2.ui.wait_decoded(1));
    const uint64_t p0 = previews.count(), d1 = student1.ui.decoded(), d2 = student2.ui.decoded();
    ASSERT_TRUE(previews.wait_count(p0 + frames));
    *rate1 = double(student1.ui.decoded() - d1) / double(frames);
    *rate2 = double(student2.ui.decoded() - d2) / double(frames);
  }

  preview_ring previews;
  // The ports of the teacher's camera and of student1's subscription to it.
  void camera_ports(uint16_t* in, uint16_t* out) {
    ASSERT_TRUE(testsupport::eventually([&] {
      *in = noted->port(false, 0, teacher_id, media_kind_video);
      *out = noted->port(true, 20003, teacher_id, media_kind_video);
      return *in && *out;
    }));
  }

  std::shared_ptr<mcu::media_router> router;
  std::shared_ptr<noted_relay> noted;
  std::unique_ptr<mcu::Server> server;
  uint16_t port = 0;
  // Destroyed before the server.
  member teacher, student1, student2;
};

TEST_F(VideoEndToEnd, TwoStudentsSeeTheTeachersCameraAsCaptured) {
  start_mcu(0, 0);
  publish_camera();
  subscribe(student1, 20003);
  subscribe(student2, 20004);
  double rate1 = 0, rate2 = 0;
  measure_rate(45, &rate1, &rate2);
  std::printf("decoded share of the captured frames: %.3f, %.3f\n", rate1, rate2);
  EXPECT_GE(rate1, 0.9);
  EXPECT_GE(rate2, 0.9);
  for (member* m : {&student1, &student2}) {
    const auto quality = m->ui.psnrs();
    ASSERT_FALSE(quality.empty());
    double sum = 0, worst = 99;
    for (double q : quality) {
      sum += q;
      worst = std::min(worst, q);
    }
    std::printf("PSNR against the capture: mean %.1f dB, worst %.1f dB over %zu pictures\n",
                sum / quality.size(), worst, quality.size());
    EXPECT_GE(sum / quality.size(), psnr_floor_db);
  }
  EXPECT_EQ(student1.ui.count("user_net_state"), 0u);
}

TEST_F(VideoEndToEnd, TenPercentLossOnTheWayToTheStudentsKeepsTheFrameRate) {
  start_mcu(0, 0.10);
  publish_camera();
  subscribe(student1, 20003);
  subscribe(student2, 20004);
  double rate1 = 0, rate2 = 0;
  measure_rate(60, &rate1, &rate2);
  const auto stats = router->stats();
  std::printf("10%% loss to listeners: decoded share %.3f, %.3f; %llu dropped, %llu resent\n",
              rate1, rate2, static_cast<unsigned long long>(stats.injected_drops),
              static_cast<unsigned long long>(stats.resent));
  EXPECT_GE(rate1, 0.9);
  EXPECT_GE(rate2, 0.9);
  EXPECT_GT(stats.resent, 0u);  // the MCU's cache answered the students' loss reports
}

TEST_F(VideoEndToEnd, TenPercentLossFromTheTeacherIsAskedOfTheTeacher) {
  start_mcu(0.10, 0);
  publish_camera();
  subscribe(student1, 20003);
  subscribe(student2, 20004);
  double rate1 = 0, rate2 = 0;
  measure_rate(60, &rate1, &rate2);
  const auto stats = router->stats();
  std::printf("10%% loss from the publisher: decoded share %.3f, %.3f; %llu asked of it\n", rate1,
              rate2, static_cast<unsigned long long>(stats.asked));
  EXPECT_GE(rate1, 0.9);
  EXPECT_GE(rate2, 0.9);
  EXPECT_GT(stats.asked, 0u);  // retransmission requests (14) went to the teacher
}

TEST_F(VideoEndToEnd, ALateSubscriberSeesAPictureAtOnce) {
  start_mcu(0, 0);
  publish_camera();
  // Two seconds of stream go by first (the key frame is well in the past).
  ASSERT_TRUE(previews.wait_count(40));
  subscribe(student1, 20003);
  const auto subscribed = steady::now();
  ASSERT_TRUE(student1.ui.wait_decoded(1));
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - subscribed);
  std::printf("first picture %lld ms after subscribing\n", static_cast<long long>(waited.count()));
}

// Someone elsewhere on the network who found the ports sends the teacher's packets, forged and
// numbered across the whole range, and registers in the student's name. Those used to reach
// the student (its picture stopped and stayed frozen) and take its stream for good.
TEST_F(VideoEndToEnd, ForgedPacketsAndRegistrationsFromAnotherAddressChangeNothing) {
  start_mcu(0, 0);
  publish_camera();
  subscribe(student1, 20003);
  ASSERT_TRUE(student1.ui.wait_decoded(1));
  uint16_t in = 0, out = 0;
  camera_ports(&in, &out);
  intruder attacker("127.0.0.2");
  const uint64_t before = student1.ui.decoded();
  // The attack goes on while the student decodes 30 more pictures (at most 40000 datagrams).
  uint32_t sent = 0;
  EXPECT_TRUE(testsupport::eventually([&] {
    for (int i = 0; i < 16 && sent < 40000; ++i, ++sent)
      attacker.send(in, intruder::forged_packet(static_cast<uint16_t>(sent * 4099)));
    attacker.register_as(out, 20003);
    return student1.ui.decoded() >= before + 30;
  }));
  EXPECT_GT(router->stats().foreign, 0u);
  EXPECT_EQ(attacker.waiting(), 0u);  // nothing of the stream went to the attacker
  const uint64_t after = student1.ui.decoded();
  EXPECT_TRUE(student1.ui.wait_decoded(after + 15));
}

// Another program on the student's own machine (or behind the school's NAT) registers in its
// name, over and over, as the old 4-byte registration and with a made-up token, while the
// student watches 45 captured frames. It used to take the stream, and the tug of war cut the
// student's frame rate by most of it; now a registration counts only with the token the
// student's own control session was given, so it takes nothing and the student sees it all.
TEST_F(VideoEndToEnd, RegistrationsFromTheStudentsOwnAddressWithoutItsTokenTakeNothing) {
  start_mcu(0, 0);
  publish_camera();
  subscribe(student1, 20003);
  ASSERT_TRUE(student1.ui.wait_decoded(1));
  uint16_t in = 0, out = 0;
  camera_ports(&in, &out);
  intruder thief("127.0.0.1");
  const uint64_t p0 = previews.count(), d0 = student1.ui.decoded();
  bytes guessed(20, 0x5a);
  guessed[0] = 0, guessed[1] = 0, guessed[2] = 0x4e, guessed[3] = 0x23;  // 20003
  EXPECT_TRUE(testsupport::eventually([&] {
    thief.register_as(out, 20003);
    thief.send(out, guessed);
    return previews.count() >= p0 + 45;
  }));
  const double rate = double(student1.ui.decoded() - d0) / double(previews.count() - p0);
  std::printf("decoded share while another socket of the address registers: %.3f\n", rate);
  EXPECT_EQ(thief.waiting(), 0u) << "the stream went to the thief";
  EXPECT_GE(rate, 0.9);
}

}  // namespace
