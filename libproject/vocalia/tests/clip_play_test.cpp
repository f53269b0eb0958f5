// Playing clips on SDL's disk output: the sound that comes out, progress, pause, seeking,
// damaged files and two players at once.
#include <gtest/gtest.h>

#include <memory>

#include "clip_format.h"
#include "clip_recorder.h"
#include "clip_test_support.h"
#include "eventually.h"

namespace {

using namespace vocalia_internal;
using namespace cliptest;
using testsupport::eventually;
using reports_t = std::vector<std::pair<unsigned, unsigned>>;

struct player_deleter {
  void operator()(libvocalia_play* p) const { p->release(1); }
};
using player_ptr = std::unique_ptr<libvocalia_play, player_deleter>;

player_ptr play(progress_log* log, const std::string& clip, int output = 0) {
  return player_ptr(libvocalia_play::create(log, clip.c_str(), output));
}

// Three seconds recorded from the synthetic microphone, once for all tests here.
const std::string& recorded_clip() {
  static const std::string path = [] {
    const std::string p = work_path("recorded.qn");
    const int mic = fake_microphone_index();
    auto recorder =
        clip_recorder::open(p.c_str(), static_cast<unsigned short>(mic < 0 ? 0 : mic), 150);
    if (recorder)
      eventually([&] { return recorder->frames_written() == 150; });
    return p;
  }();
  return path;
}

// 2 s of 440 Hz, then 2 s of 1000 Hz.
const std::string& two_tone_clip() {
  static const std::string path = [] {
    auto frames = tone_frames(440, 100);
    const auto high = tone_frames(1000, 100);
    frames.insert(frames.end(), high.begin(), high.end());
    const std::string p = work_path("two_tone.qn");
    write_bytes(p, clip_bytes(4, frames));
    return p;
  }();
  return path;
}

bool all_zero(const std::vector<uint8_t>& raw, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to && i < raw.size(); ++i)
    if (raw[i] != 0)
      return false;
  return true;
}

constexpr std::size_t bytes_per_second = 48000 * 2 * 2;

TEST(ClipPlay, TheRecordedToneComesOutAndProgressEndsAtTheTotal) {
  const std::string out = disk_output("play.raw");
  progress_log log;
  player_ptr player = play(&log, recorded_clip());
  ASSERT_NE(player, nullptr);
  ASSERT_TRUE(eventually([&] { return log.has(3, 3); }));
  EXPECT_EQ(log.reports(), (reports_t{{1, 3}, {2, 3}, {3, 3}}));
  // Over: nothing to resume, pause or seek.
  EXPECT_EQ(player->set_play_state(1), -1);
  EXPECT_EQ(player->set_play_state(2), -1);
  EXPECT_EQ(player->seek_percent(0), -1);
  player.reset();

  // The speaker closed before the end was reported, so the file holds all of it.
  const std::vector<float> sound = left_channel(read_bytes(out));
  ASSERT_GE(sound.size(), 3u * 48000u);
  EXPECT_GT(tone_power(sound, mic_tone_hz), 20 * tone_power(sound, 1000));
  EXPECT_GT(tone_power(sound, mic_tone_hz), 20 * tone_power(sound, 300));
}

TEST(ClipPlay, PauseHoldsProgressAndSoundAndResumeContinues) {
  const std::string out = disk_output("pause.raw");
  progress_log log;
  player_ptr player = play(&log, recorded_clip());
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(player->set_play_state(0), -1);
  EXPECT_EQ(player->set_play_state(3), -1);
  ASSERT_TRUE(eventually([&] { return log.count() >= 1; }));
  ASSERT_EQ(player->set_play_state(2), 0);

  // The output keeps running while paused: once it has played a second past the pause,
  // another second of it must be silence without progress.
  const std::uintmax_t at_pause = file_size(out);
  ASSERT_TRUE(eventually([&] { return file_size(out) >= at_pause + bytes_per_second; }));
  const std::size_t reports_paused = log.count();
  const std::uintmax_t quiet_from = file_size(out);
  ASSERT_TRUE(eventually([&] { return file_size(out) >= quiet_from + bytes_per_second; }));
  EXPECT_EQ(log.count(), reports_paused);
  EXPECT_TRUE(all_zero(read_bytes(out), quiet_from, quiet_from + bytes_per_second));
  EXPECT_FALSE(log.has(3, 3));

  EXPECT_EQ(player->set_play_state(2), 0);  // pausing twice is fine
  ASSERT_EQ(player->set_play_state(1), 0);
  ASSERT_TRUE(eventually([&] { return log.has(3, 3); }));
  EXPECT_EQ(log.reports(), (reports_t{{1, 3}, {2, 3}, {3, 3}}));
}

TEST(ClipPlay, SeekContinuesFromThatPoint) {
  const std::string out = disk_output("seek.raw");
  progress_log log;
  player_ptr player = play(&log, two_tone_clip());
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(player->seek_percent(50), 0);
  ASSERT_TRUE(eventually([&] { return log.has(4, 4); }));
  const reports_t reports = log.reports();
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports_t(reports.end() - 3, reports.end()), (reports_t{{2, 4}, {3, 4}, {4, 4}}));
  player.reset();
  // The second half: its tone, not the first half's.
  const std::vector<float> sound = left_channel(read_bytes(out));
  EXPECT_GT(tone_power(sound, 1000), 5 * tone_power(sound, 440));

  // Beyond 100 is the end.
  disk_output("seek_end.raw");
  progress_log end_log;
  player = play(&end_log, two_tone_clip());
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(player->seek_percent(250), 0);
  ASSERT_TRUE(eventually([&] { return end_log.has(4, 4); }));
  EXPECT_EQ(player->seek_percent(-5), -1);
}

TEST(ClipPlay, DamagedFilesAreRefusedOrEndCleanly) {
  disk_output("damaged.raw");
  EXPECT_EQ(libvocalia_play::create(nullptr, work_path("missing.qn").c_str(), 0), nullptr);
  EXPECT_EQ(libvocalia_play::create(nullptr, nullptr, 0), nullptr);
  const auto frames = tone_frames(440, 5);
  std::vector<uint8_t> bytes = clip_bytes(1, frames);
  bytes[1] = 'X';
  write_bytes(work_path("magic.qn"), bytes);
  EXPECT_EQ(libvocalia_play::create(nullptr, work_path("magic.qn").c_str(), 0), nullptr);
  write_bytes(work_path("short.qn"), std::vector<uint8_t>(vocalia_magic, vocalia_magic + 5));
  EXPECT_EQ(libvocalia_play::create(nullptr, work_path("short.qn").c_str(), 0), nullptr);

  struct damaged {
    const char* name;
    std::vector<uint8_t> bytes;
    unsigned total;  // expected in the end's report
  };
  std::vector<damaged> cases;
  {
    // Five good frames, then a record claiming 65535 bytes; the header never got its length.
    std::vector<uint8_t> b = clip_bytes(0, frames);
    b.insert(b.end(), {0xff, 0xff, 1, 2, 3, 4});
    cases.push_back({"longest.qn", b, 1});
  }
  {
    std::vector<uint8_t> b = clip_bytes(0, {});
    b.insert(b.end(), {0xff, 0xff});
    b.resize(b.size() + 70000, 0x55);  // all the bytes it claims are there, still too long
    cases.push_back({"only_longest.qn", b, 0});
  }
  {
    std::vector<uint8_t> b = clip_bytes(7, frames);
    b.resize(b.size() - 3);  // cut inside the last frame
    cases.push_back({"cut.qn", b, 7});
  }
  {
    std::vector<std::vector<uint8_t>> garbage;
    uint32_t x = 12345;
    for (int f = 0; f < 10; ++f) {
      std::vector<uint8_t> frame(1 + f * 37);
      for (auto& byte : frame)
        byte = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
      garbage.push_back(frame);
    }
    cases.push_back({"garbage.qn", clip_bytes(0, garbage), 1});
  }
  cases.push_back({"huge_total.qn", clip_bytes(0xffffffffu, frames), 0xffffffffu});

  for (const damaged& c : cases) {
    write_bytes(work_path(c.name), c.bytes);
    progress_log log;
    player_ptr player = play(&log, work_path(c.name));
    ASSERT_NE(player, nullptr) << c.name;
    ASSERT_TRUE(eventually([&] { return log.has(c.total, c.total); })) << c.name;
    EXPECT_EQ(log.reports().back(), std::make_pair(c.total, c.total)) << c.name;
  }
}

TEST(ClipPlay, TwoPlayersAtOnceAndARemovedOneStaysQuiet) {
  // Any speaker index: beyond the list and negative mean the default output.
  disk_output("first.raw");
  progress_log first_log;
  player_ptr first = play(&first_log, recorded_clip(), 1000);
  ASSERT_NE(first, nullptr);
  const std::string second_out = disk_output("second.raw");
  progress_log second_log;
  player_ptr second = play(&second_log, recorded_clip(), -1);
  ASSERT_NE(second, nullptr);

  ASSERT_TRUE(eventually([&] { return first_log.count() >= 1; }));
  first.reset();
  const std::size_t first_reports = first_log.count();
  ASSERT_TRUE(eventually([&] { return second_log.has(3, 3); }));
  EXPECT_EQ(second_log.reports(), (reports_t{{1, 3}, {2, 3}, {3, 3}}));
  EXPECT_EQ(first_log.count(), first_reports);
  EXPECT_FALSE(first_log.has(3, 3));
  second.reset();
  const std::vector<float> sound = left_channel(read_bytes(second_out));
  EXPECT_GT(tone_power(sound, mic_tone_hz), 20 * tone_power(sound, 1000));

  // SDL audio is still usable after both closed.
  disk_output("third.raw");
  progress_log third_log;
  player_ptr third = play(&third_log, two_tone_clip());
  ASSERT_NE(third, nullptr);
  ASSERT_EQ(third->seek_percent(100), 0);
  EXPECT_TRUE(eventually([&] { return third_log.has(4, 4); }));
}

}  // namespace
