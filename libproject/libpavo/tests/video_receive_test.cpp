// The receive side over loopback: a video receiver registering at its MCU port, decoding what
// comes, and the loss reports its user_media_ctrl sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "control_wire.h"
#include "eventually.h"
#include "libpavo/libpavo.h"
#include "user_media_ctrl.h"
#include "velmedia/velfec.h"
#include "velmedia/velvideo_enc.h"
#include "video_rtp_recv.h"
#include "video_test_support.h"
#include "wirebytes/byte_order.h"

namespace {

using namespace video_test;

constexpr uint32_t own_id = 10003, remote_id = 10001;

// Polls what another thread changes, up to the generous limit.
using testsupport::eventually;

// Receivers whose loss lists the test sets.
class listed_receiver : public media_receiver {
public:
  explicit listed_receiver(int kind) : kind_(kind) {}
  bool loss_list(int* kind, std::vector<uint16_t>* missing) override {
    std::lock_guard<std::mutex> lock(mutex);
    *kind = kind_;
    *missing = list;
    return true;
  }
  std::mutex mutex;
  std::vector<uint16_t> list;

private:
  int kind_;
};

// The session's media token the MCU handed out with the port, and the registration carrying it
// (user 10003).
const pavo_wire::media_token kToken = {{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6}};
const bytes kRegistration = {0, 0, 0x27, 0x13, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};

class listing_factory : public media_factory {
public:
  std::shared_ptr<video_ctrl> create_camera_sender(sendmsg2ui*, uint16_t) override { return {}; }
  std::shared_ptr<video_ctrl> create_screen_sender(sendmsg2ui*) override { return {}; }
  std::unique_ptr<audio_ctrl> create_audio_sender(int, int, uint16_t) override { return {}; }
  std::unique_ptr<media_receiver> create_video_receiver(const char*, uint16_t, uint32_t,
                                                        const pavo_wire::media_token&, uint32_t,
                                                        int kind, sendmsg2ui*,
                                                        sendmsg2mcu*) override {
    auto receiver = std::make_unique<listed_receiver>(kind);
    made[kind] = receiver.get();
    return receiver;
  }
  std::unique_ptr<media_receiver> create_audio_receiver(const char*, uint16_t, uint32_t,
                                                        const pavo_wire::media_token&,
                                                        int) override {
    return {};
  }
  std::map<int, listed_receiver*> made;
};

void set_list(listed_receiver* r, std::vector<uint16_t> list) {
  std::lock_guard<std::mutex> lock(r->mutex);
  r->list = std::move(list);
}

TEST(LossReports, AreSentForEachReceiverWithAtMost2000Numbers) {
  recording_ui ui;
  recording_mcu mcu;
  listing_factory factory;
  user_media_ctrl user(remote_id, own_id, &ui, &mcu, factory);
  ASSERT_EQ(user.start_receiver("127.0.0.1", 9, media_kind_screen), 0);
  EXPECT_EQ(user.start_receiver("127.0.0.1", 9, media_kind_screen), -1);
  listed_receiver* screen = factory.made[media_kind_screen];

  std::vector<uint16_t> many(2000);
  for (std::size_t i = 0; i < many.size(); ++i)
    many[i] = static_cast<uint16_t>(65000 + i);  // across the wrap
  set_list(screen, many);
  auto report = mcu.next();  // the 50 ms clock sends it by itself
  ASSERT_TRUE(report);
  EXPECT_EQ(report->type, pavo_wire::msg_loss_report);
  ASSERT_EQ(report->payload.size(), 16u + 2 * 2000);
  const uint8_t* p = report->payload.data();
  EXPECT_EQ(wirebytes::get_be32(p), remote_id);
  EXPECT_EQ(wirebytes::get_be32(p + 4), static_cast<uint32_t>(media_kind_screen));
  EXPECT_EQ(wirebytes::get_be32(p + 8), 2000u);
  EXPECT_EQ(wirebytes::get_be32(p + 12), own_id);
  EXPECT_EQ(wirebytes::get_be16(p + 16), 65000);
  EXPECT_EQ(wirebytes::get_be16(p + 16 + 2 * 1999), static_cast<uint16_t>(65000 + 1999));

  // 2001 numbers: nothing at all; an empty list: nothing.
  many.push_back(7);
  set_list(screen, many);
  mcu.next(std::chrono::milliseconds(200));  // a report of the old list may be under way
  while (mcu.count())
    mcu.next();
  for (int i = 0; i < 3; ++i)
    user.send_loss_reports();
  EXPECT_EQ(mcu.count(), 0u);
  set_list(screen, {});
  user.send_loss_reports();
  EXPECT_EQ(mcu.count(), 0u);

  EXPECT_TRUE(user.stop_receiver(media_kind_screen));
  EXPECT_FALSE(user.has(media_kind_screen));
}

// The MCU's side of one received stream: encodes pictures and sends their packets from the
// port the receiver registered at.
class ReceiveStream : public ::testing::Test {
protected:
  struct encoded_sink : velcode_enc_data {
    std::vector<std::pair<bytes, bool>> frames;
    void on_encoded_data(const uint8_t* d, unsigned n, uint32_t, int type) override {
      frames.emplace_back(bytes(d, d + n), type == 1);
    }
  };

  void SetUp() override {
    gen.reset(gen_fec_packet::create(
        remote_id,
        [](const uint8_t* p, unsigned n, uint32_t, uint16_t, void* user) {
          static_cast<ReceiveStream*>(user)->packets.emplace_back(p, p + n);
        },
        this));
    gen->set_payload_types(1, 100, 101, media_kind_video);
    std::unique_ptr<velvideo_enc> enc(velvideo_enc::create(160, 120, 15, 300, &sink, false));
    for (int i = 0; i < 10; ++i) {
      bytes picture(velmedia_i420_size(160, 120), 128);
      for (std::size_t b = 0; b < 160 * 120; ++b)
        picture[b] = static_cast<uint8_t>((b + 7 * i) % 220 + 16);
      enc->encode(picture.data(), static_cast<unsigned>(picture.size()), 66 * i);
    }
    for (std::size_t i = 0; i < sink.frames.size(); ++i)
      gen->send_frame(sink.frames[i].first.data(),
                      static_cast<unsigned>(sink.frames[i].first.size()),
                      static_cast<uint32_t>(66 * i), sink.frames[i].second);
  }

  static uint16_t seq_of(const bytes& p) { return wirebytes::get_be16(p.data() + 2); }

  encoded_sink sink;
  std::unique_ptr<gen_fec_packet> gen;
  std::vector<bytes> packets;
  recording_ui ui;
  media_port port;
};

TEST_F(ReceiveStream, RegistersUntilDataComesThenDecodesAndAsksForWhatIsMissing) {
  pavo::video_rtp_recv receiver("127.0.0.1", port.port(), own_id, &ui, remote_id, media_kind_video,
                                kToken);
  ASSERT_TRUE(receiver.running());
  // The registration (own id, big-endian, and the session's token) comes again until data
  // arrives.
  for (int i = 0; i < 2; ++i) {
    auto hello = port.next();
    ASSERT_TRUE(hello);
    EXPECT_EQ(*hello, kRegistration);
  }
  // Everything but the media packets of frame 7 (its FEC packets too: no protection here).
  std::set<uint16_t> dropped;
  for (const bytes& p : packets) {
    const uint32_t ts = wirebytes::get_be32(p.data() + 4);
    if ((p[1] & 0x7f) == 100 && ts == 66 * 7) {
      dropped.insert(seq_of(p));
      continue;
    }
    port.reply(p);
  }
  ASSERT_FALSE(dropped.empty());
  // The frames before the gap are shown.
  ASSERT_TRUE(ui.wait_frames(1));
  int kind = 0;
  std::vector<uint16_t> missing;
  ASSERT_TRUE(eventually([&] {
    receiver.loss_list(&kind, &missing);
    return !missing.empty();
  }));
  EXPECT_EQ(kind, media_kind_video);
  EXPECT_EQ(std::set<uint16_t>(missing.begin(), missing.end()), dropped);
  // The MCU sends the missing packets again: every frame is shown.
  for (const bytes& p : packets)
    if ((p[1] & 0x7f) == 100 && dropped.count(seq_of(p)))
      port.reply(p);
  ASSERT_TRUE(ui.wait_frames(sink.frames.size()));
  const auto frames = ui.take_frames();
  EXPECT_EQ(frames[0].user, remote_id);
  EXPECT_EQ(frames[0].kind, media_kind_video);
  EXPECT_EQ(frames[0].width, 160);
  receiver.loss_list(&kind, &missing);
  EXPECT_TRUE(missing.empty());
}

// A registration from another socket may have moved the stream away at the MCU: once data
// stops, the receiver registers again until it comes back.
TEST_F(ReceiveStream, RegistersAgainWhenItsStreamFallsSilent) {
  pavo::video_rtp_recv receiver("127.0.0.1", port.port(), own_id, &ui, remote_id, media_kind_video,
                                kToken);
  ASSERT_TRUE(receiver.running());
  ASSERT_TRUE(port.next());
  for (const bytes& p : packets)
    port.reply(p);
  ASSERT_TRUE(ui.wait_frames(1));
  // At most one or two were on their way before the data came; then the silence brings more.
  for (int i = 0; i < 5; ++i) {
    auto hello = port.next();
    ASSERT_TRUE(hello) << "registration " << i;
    EXPECT_EQ(*hello, kRegistration);
  }
}

// A red picture through encoder, FEC packetiser, receiver and decoder, delivered as the
// observer asked: opaque 32-bit words, converted once.
TEST(ReceiveLayout, DeliversDecodedPicturesAsWordsWhenAsked) {
  std::vector<bytes> packets;
  std::unique_ptr<gen_fec_packet> gen(gen_fec_packet::create(
      remote_id,
      [](const uint8_t* p, unsigned n, uint32_t, uint16_t, void* user) {
        static_cast<std::vector<bytes>*>(user)->emplace_back(p, p + n);
      },
      &packets));
  gen->set_payload_types(1, 100, 101, media_kind_video);
  struct sink : velcode_enc_data {
    std::vector<bytes> frames;
    void on_encoded_data(const uint8_t* d, unsigned n, uint32_t, int) override {
      frames.emplace_back(d, d + n);
    }
  } encoded;
  std::unique_ptr<velvideo_enc> enc(velvideo_enc::create(64, 48, 15, 300, &encoded, false));
  bytes red(velmedia_i420_size(64, 48));
  std::fill(red.begin(), red.begin() + 64 * 48, 81);
  std::fill(red.begin() + 64 * 48, red.begin() + 64 * 48 + 32 * 24, 90);
  std::fill(red.begin() + 64 * 48 + 32 * 24, red.end(), 240);
  ASSERT_EQ(enc->encode(red.data(), static_cast<unsigned>(red.size()), 0), 0);
  ASSERT_EQ(encoded.frames.size(), 1u);
  gen->send_frame(encoded.frames[0].data(), static_cast<unsigned>(encoded.frames[0].size()), 0,
                  true);

  recording_ui ui;
  ui.keep_pixels(true);
  ui.set_frame_format(pavo_frame_rgb32);
  media_port port;
  pavo::video_rtp_recv receiver("127.0.0.1", port.port(), own_id, &ui, remote_id, media_kind_video);
  ASSERT_TRUE(port.next());  // the registration: the sender knows where to send
  for (const bytes& p : packets)
    port.reply(p);
  ASSERT_TRUE(ui.wait_frames(1));
  const auto frames = ui.take_frames();
  ASSERT_EQ(frames[0].width, 64);
  ASSERT_EQ(frames[0].pixels.size(), 64u * 48u * 4u);
  uint32_t word = 0;
  std::memcpy(&word, frames[0].pixels.data() + 4 * (24 * 64 + 32), 4);
  EXPECT_EQ(word >> 24, 0xffu);
  EXPECT_GT((word >> 16) & 0xff, 220u);
  EXPECT_LT((word >> 8) & 0xff, 40u);
  EXPECT_LT(word & 0xff, 40u);
}

TEST_F(ReceiveStream, DropsWhatIsNotOurs) {
  pavo::video_rtp_recv receiver("127.0.0.1", port.port(), own_id, &ui, remote_id, media_kind_video);
  ASSERT_TRUE(port.next());
  port.reply(bytes(1500, 0x80));  // 1500 bytes and more: dropped
  port.reply(bytes{1, 2, 3});
  port.reply(bytes(40, 0x80));  // RTP of an unknown type
  for (const bytes& p : packets)
    port.reply(p);
  ASSERT_TRUE(ui.wait_frames(sink.frames.size()));
}

}  // namespace
