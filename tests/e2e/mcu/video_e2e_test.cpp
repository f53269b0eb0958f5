// Video end to end on loopback: a teacher publishes the synthetic camera through the real MCU
// and students subscribe and decode it (libpavo as the client loads it). The pictures are
// compared with the teacher's own preview of the same capture, and the frame rate is checked
// with media datagrams dropped on the way.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

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
    mcu::Config config;
    config.listen_port = 0;
    config.probe_interval_ms = 0;
    config.relay = router;
    server = std::make_unique<mcu::Server>(config);
    port = server->start();
    ASSERT_NE(port, 0);
  }

  void join(member& m, uint32_t id, user_role_t role) {
    m.library = Libpavo::create(&m.ui, id, room_id, "127.0.0.1", port, role);
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
  std::shared_ptr<mcu::media_router> router;
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

}  // namespace
