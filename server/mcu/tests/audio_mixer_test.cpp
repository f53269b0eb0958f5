// The MCU's audio mixer, driven tick by tick: who hears whom, clipping, and publishers that
// are late, lose datagrams, or come and go.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "audio_mix_engine.h"
#include "audio_mixer.h"
#include "audio_packet.h"
#include "audio_publisher.h"
#include "audio_tones.h"
#include "eventually.h"

namespace {

using audio_test::goertzel;
using audio_test::stream_decoder;
using audio_test::tone_encoder;

constexpr uint32_t room = 7;

// What one listener receives.
struct listener_log {
  std::vector<std::vector<uint8_t>> datagrams;
  mcu::audio_mixer::datagram_sink sink() {
    return [this](const uint8_t* data, std::size_t length) {
      datagrams.emplace_back(data, data + length);
    };
  }
  // The left channel of the frames received from datagram `from` on.
  std::vector<float> decoded(std::size_t from = 0) const {
    stream_decoder decoder;
    std::vector<float> left;
    std::vector<mcu::audio_frame_view> frames;
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
      if (!mcu::parse_audio_frames(datagrams[i].data(), datagrams[i].size(), &frames))
        continue;
      std::vector<float> pcm;
      decoder.decode(frames[0].data, frames[0].length, &pcm);
      if (i >= from)
        left.insert(left.end(), pcm.begin(), pcm.end());
    }
    return left;
  }
};

// A publisher sending a tone through the same datagrams the clients send.
struct tone_publisher {
  tone_publisher(uint32_t user, double frequency, double amplitude = 8000)
      : user(user), tone(frequency, amplitude), packetizer(user) {}
  std::vector<uint8_t> next() {
    const std::vector<uint8_t> frame = tone.next();
    return packetizer.next(frame.data(), static_cast<unsigned>(frame.size()), 960);
  }
  void send(mcu::audio_mix_engine& engine) {
    const std::vector<uint8_t> d = next();
    engine.publisher_datagram(room, user, d.data(), d.size());
  }
  uint32_t user;
  tone_encoder tone;
  mcu::audio_stream_packetizer packetizer;
};

class AudioMixer : public ::testing::Test {
protected:
  void SetUp() override {
    for (tone_publisher* p : {&a, &b}) {
      engine.add_publisher(room, p->user);
      engine.add_listener(room, p->user, logs[p->user].sink());
    }
    engine.add_listener(room, c, logs[c].sink());
  }
  void run_ticks(int count, bool a_sends = true, bool b_sends = true) {
    for (int i = 0; i < count; ++i) {
      if (a_sends)
        a.send(engine);
      if (b_sends)
        b.send(engine);
      engine.tick();
    }
  }

  mcu::audio_mix_engine engine;
  tone_publisher a{1, 440}, b{2, 1000};
  const uint32_t c = 3;  // listens only
  std::map<uint32_t, listener_log> logs;
};

TEST_F(AudioMixer, EachListenerHearsEveryoneButItself) {
  run_ticks(60);
  const auto heard_by_a = logs[a.user].decoded(20);
  const auto heard_by_b = logs[b.user].decoded(20);
  const auto heard_by_c = logs[c].decoded(20);
  ASSERT_FALSE(heard_by_a.empty());
  EXPECT_GT(goertzel(heard_by_a, 1000), 100 * goertzel(heard_by_a, 440));
  EXPECT_GT(goertzel(heard_by_b, 440), 100 * goertzel(heard_by_b, 1000));
  const double c440 = goertzel(heard_by_c, 440), c1000 = goertzel(heard_by_c, 1000);
  EXPECT_GT(c440, 0.2 * c1000);
  EXPECT_GT(c1000, 0.2 * c440);
  EXPECT_GT(c440, 100 * goertzel(heard_by_c, 700));
}

TEST_F(AudioMixer, EveryListenerStreamIsNumberedOnItsOwnWithRedundancy) {
  run_ticks(10);
  for (uint32_t listener : {a.user, b.user, c}) {
    const auto& datagrams = logs[listener].datagrams;
    ASSERT_GE(datagrams.size(), 7u) << listener;
    std::vector<mcu::audio_frame_view> frames;
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
      ASSERT_TRUE(mcu::parse_audio_frames(datagrams[i].data(), datagrams[i].size(), &frames));
      EXPECT_EQ(frames[0].seq, i);
      EXPECT_EQ(frames[0].timestamp, 960u * i);
      EXPECT_EQ(frames.size(), 1 + std::min<std::size_t>(i, 2));
      EXPECT_EQ(datagrams[i][8] | datagrams[i][9] | datagrams[i][10] | datagrams[i][11], 0)
          << "the mixed stream's SSRC is 0";
    }
  }
  // Three listeners, three mixes: a without a, b without b, and everything for c.
  EXPECT_EQ(engine.stats().encoded, 3 * logs[c].datagrams.size());
}

TEST_F(AudioMixer, ASilentOrLossyPublisherDoesNotHoldUpTheOthers) {
  run_ticks(20);
  const std::size_t before = logs[c].datagrams.size();
  run_ticks(25, true, false);  // b goes quiet
  // Lost datagrams from a: each one's frame rides in the next datagram.
  for (int i = 0; i < 20; ++i) {
    const auto d = a.next();
    if (i % 3 != 1)
      engine.publisher_datagram(room, a.user, d.data(), d.size());
    b.send(engine);
    engine.tick();
  }
  // One datagram per tick throughout, numbered without a gap.
  ASSERT_EQ(logs[c].datagrams.size(), before + 45);
  std::vector<mcu::audio_frame_view> frames;
  for (std::size_t i = 0; i < logs[c].datagrams.size(); ++i) {
    ASSERT_TRUE(
        mcu::parse_audio_frames(logs[c].datagrams[i].data(), logs[c].datagrams[i].size(), &frames));
    ASSERT_EQ(frames[0].seq, i);
  }
  // While b was quiet, c heard a alone, steadily.
  const auto quiet = logs[c].decoded(before + 8);
  std::vector<float> middle(quiet.begin(), quiet.begin() + 15 * 960);
  EXPECT_GT(goertzel(middle, 440), 100 * goertzel(middle, 1000));
}

TEST_F(AudioMixer, PublishersComeAndGoWithoutBreakingTheStream) {
  run_ticks(20);
  engine.remove_publisher(room, b.user);
  run_ticks(30, true, true);  // b's datagrams after leaving are ignored
  const auto after = logs[c].decoded(logs[c].datagrams.size() - 20);
  EXPECT_GT(goertzel(after, 440), 100 * goertzel(after, 1000));
  // b now listens like anyone else and hears a.
  const auto heard_by_b = logs[b.user].decoded(logs[b.user].datagrams.size() - 20);
  EXPECT_GT(goertzel(heard_by_b, 440), 100 * goertzel(heard_by_b, 1000));
  // A newcomer joins the mix.
  tone_publisher d{4, 1500};
  engine.add_publisher(room, d.user);
  for (int i = 0; i < 30; ++i) {
    a.send(engine);
    d.send(engine);
    engine.tick();
  }
  const auto with_d = logs[c].decoded(logs[c].datagrams.size() - 20);
  EXPECT_GT(goertzel(with_d, 1500), 0.2 * goertzel(with_d, 440));
  std::vector<mcu::audio_frame_view> frames;
  for (std::size_t i = 0; i < logs[c].datagrams.size(); ++i) {
    ASSERT_TRUE(
        mcu::parse_audio_frames(logs[c].datagrams[i].data(), logs[c].datagrams[i].size(), &frames));
    ASSERT_EQ(frames[0].seq, i);
  }
}

TEST_F(AudioMixer, APublisherWhoseSenderStartsAgainIsHeardAgain) {
  run_ticks(100);  // far ahead of where the new numbering starts
  // Same publisher, a new sender numbering from 0 (the MCU hands out the same port again).
  tone_publisher restarted{b.user, 1000};
  for (int i = 0; i < 40; ++i) {
    a.send(engine);
    restarted.send(engine);
    engine.tick();
  }
  const auto heard = logs[c].decoded(logs[c].datagrams.size() - 15);
  EXPECT_GT(goertzel(heard, 1000), 0.2 * goertzel(heard, 440));
}

TEST_F(AudioMixer, MalformedDatagramsAreDroppedAndARemovedListenerGetsNothing) {
  const uint8_t junk[] = {0x90, 2, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0xFF, 1};
  engine.publisher_datagram(room, a.user, junk, sizeof junk);
  engine.publisher_datagram(room, a.user, junk, 3);
  engine.publisher_datagram(room, a.user, nullptr, 0);
  engine.publisher_datagram(room + 1, a.user, junk, sizeof junk);  // no such room: ignored
  EXPECT_EQ(engine.stats().malformed, 3u);
  run_ticks(5);
  engine.remove_listener(room, c);
  const std::size_t received = logs[c].datagrams.size();
  run_ticks(5);
  EXPECT_EQ(logs[c].datagrams.size(), received);
}

TEST(MixLimiter, LoudMixesAreTurnedDownWithoutFlatTopsAndQuietOnesPassUnchanged) {
  mcu::mix_limiter limiter;
  std::vector<int32_t> quiet(mcu::mix_samples), loud(mcu::mix_samples);
  for (unsigned i = 0; i < mcu::mix_frame; ++i) {
    const double s = std::sin(2 * audio_test::pi * 440 * i / 48000.0);
    quiet[2 * i] = quiet[2 * i + 1] = static_cast<int32_t>(10000 * s);
    loud[2 * i] = loud[2 * i + 1] = static_cast<int32_t>(60000 * s);  // two voices at full scale
  }
  std::vector<int16_t> out(mcu::mix_samples);
  EXPECT_FALSE(limiter.apply(quiet.data(), out.data()));
  for (unsigned i = 0; i < mcu::mix_samples; ++i)
    ASSERT_EQ(out[i], quiet[i]);
  EXPECT_TRUE(limiter.apply(loud.data(), out.data()));
  EXPECT_TRUE(limiter.apply(loud.data(), out.data()));
  // The second loud frame is the sine scaled down, not clipped: every sample follows it.
  const float g = limiter.gain();
  EXPECT_LT(g, 0.56f);
  for (unsigned i = 0; i < mcu::mix_samples; ++i)
    ASSERT_NEAR(out[i], loud[i] * g, 0.02 * 32768) << i;
}

TEST(AudioMixerClock, MixesOnItsOwnThread) {
  auto mixer = mcu::make_audio_mixer();
  std::mutex mutex;
  std::condition_variable arrived;
  int received = 0;
  mixer->add_publisher(room, 1);
  mixer->add_listener(room, 2, [&](const uint8_t*, std::size_t) {
    std::lock_guard<std::mutex> lock(mutex);
    ++received;
    arrived.notify_all();
  });
  std::unique_lock<std::mutex> lock(mutex);
  EXPECT_TRUE(arrived.wait_for(lock, testsupport::wait_limit(), [&] { return received >= 5; }));
  lock.unlock();
  mixer->remove_listener(room, 2);
  mixer.reset();
}

}  // namespace
