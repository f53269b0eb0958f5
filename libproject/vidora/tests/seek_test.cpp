// Seeking by time and by bytes, and a seek asked while another is pending.
#include <memory>

#include <gtest/gtest.h>

#include "eventually.h"
#include "player_state.h"
#include "test_media.h"
#include "vidora_impl.h"

using namespace vidora_test;

namespace {

// 120 s, a key picture every second, small pictures; made once for the whole suite.
class SeekTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = new temp_folder;
    long_file_ = dir_->file("long.mp4");
    raw_file_ = dir_->file("long.h264");
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i testsrc=s=96x64:r=25 -f lavfi -i sine=f=440:r=48000 -t 120 "
               "-c:v libx264 -preset ultrafast -g 25 -c:a aac -ac 2",
               long_file_));
    // A raw H.264 stream has no duration.
    ASSERT_TRUE(ffmpeg(
        "-f lavfi -i testsrc=s=96x64:r=25 -t 20 -c:v libx264 -preset ultrafast -g 25 -f h264",
        raw_file_));
  }
  static void TearDownTestSuite() { delete dir_; }

  static temp_folder* dir_;
  static std::string long_file_;
  static std::string raw_file_;
};
temp_folder* SeekTest::dir_ = nullptr;
std::string SeekTest::long_file_;
std::string SeekTest::raw_file_;

// The first report at or after `from` seconds.
int first_report_from(recording_observer& observer, int from) {
  for (const progress_report& p : observer.progress)
    if (p.seconds >= from)
      return p.seconds;
  return -1;
}

TEST_F(SeekTest, FiftyPercentOfTwoMinutesLandsAtOneMinute) {
  recording_observer observer;
  std::unique_ptr<vidora> player(vidora::create(long_file_.c_str(), &observer, 0));
  player->start();
  ASSERT_TRUE(observer.wait_until([&] { return !observer.progress.empty(); }));
  EXPECT_EQ(observer.progress.front().total, 120);
  player->seek(50);
  ASSERT_TRUE(observer.wait_until([&] { return first_report_from(observer, 3) >= 0; }));
  player.reset();
  EXPECT_EQ(first_report_from(observer, 3), 60);
}

TEST_F(SeekTest, ASeekWhilePausedShowsThePictureThereAndStaysPaused) {
  recording_observer observer;
  std::unique_ptr<vidora_impl> player(
      static_cast<vidora_impl*>(vidora::create(long_file_.c_str(), &observer, 0)));
  player->start();
  ASSERT_TRUE(observer.wait_until([&] { return !observer.progress.empty(); }));
  player->set_pause(true);
  ASSERT_TRUE(testsupport::eventually([&] { return player->queued_commands().empty(); }));
  player->seek(25);
  ASSERT_TRUE(observer.wait_until([&] { return first_report_from(observer, 3) >= 0; }));
  EXPECT_EQ(first_report_from(observer, 3), 30);
  player->set_pause(false);
  ASSERT_TRUE(observer.wait_until([&] { return first_report_from(observer, 31) >= 0; }));
  EXPECT_EQ(first_report_from(observer, 31), 31);
}

// The seek rule on an open input without a read thread, so nothing takes the request.
class OpenInput {
public:
  explicit OpenInput(const std::string& path) {
    state.continue_read_thread = SDL_CreateCond();
    if (avformat_open_input(&state.ic, path.c_str(), nullptr, nullptr) < 0)
      return;
    avformat_find_stream_info(state.ic, nullptr);
    state.file_size = avio_size(state.ic->pb);
    state.seek_by_bytes = 0;
    state.ready = true;
  }
  ~OpenInput() { avformat_close_input(&state.ic); }
  player_state state;
};

TEST_F(SeekTest, SecondSeekIsDroppedWhileTheFirstIsPending) {
  OpenInput input(long_file_);
  ASSERT_TRUE(input.state.ready);
  EXPECT_TRUE(seek_to_percent(&input.state, 10));
  EXPECT_FALSE(seek_to_percent(&input.state, 90));
  EXPECT_EQ(input.state.seek_pos,
            input.state.ic->duration / 10 +
                (input.state.ic->start_time == AV_NOPTS_VALUE ? 0 : input.state.ic->start_time));
  EXPECT_FALSE(input.state.seek_flags & AVSEEK_FLAG_BYTE);
  // Once the reader has taken it, the next one goes through.
  input.state.seek_req = 0;
  EXPECT_TRUE(seek_to_percent(&input.state, 90));
}

TEST_F(SeekTest, UnknownDurationSeeksByBytes) {
  OpenInput input(raw_file_);
  ASSERT_TRUE(input.state.ready);
  ASSERT_EQ(input.state.ic->duration, AV_NOPTS_VALUE);
  EXPECT_TRUE(seek_to_percent(&input.state, 50));
  EXPECT_TRUE(input.state.seek_flags & AVSEEK_FLAG_BYTE);
  EXPECT_EQ(input.state.seek_pos, input.state.file_size / 2);
}

TEST_F(SeekTest, ByteSeekMovesTheReaderIntoTheSecondHalf) {
  int64_t size = 0;
  bool asked = false;
  int64_t first_pos_after = -1;
  const core_run_result result = run_core(raw_file_, [&](player_state* is) {
    if (!is->ready)
      return false;
    if (!asked) {
      size = is->file_size;
      asked = seek_to_percent(is, 50);
      return false;
    }
    if (is->seek_req)
      return false;
    // Pictures read after the seek carry the new serial and their byte position.
    if (is->pictq.nb_remaining() > 0 && is->pictq.peek()->serial == is->videoq.serial) {
      first_pos_after = is->pictq.peek()->pos;
      return true;
    }
    return false;
  });
  ASSERT_TRUE(result.opened);
  ASSERT_TRUE(asked);
  EXPECT_GE(first_pos_after, size / 2);
}

}  // namespace
