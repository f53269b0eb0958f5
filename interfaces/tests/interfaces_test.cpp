// The inline helpers of the interface headers, and that every abstract class can be
// implemented and freed the way its callers free it.
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

#include "audira/velaudira.h"
#include "libcentra/centra.h"
#include "libfalco/libfalco.h"
#include "libferrum/libferrum.h"
#include "libnetra/kcp_client.h"
#include "libnetra/udp_client.h"
#include "probix/probix.h"
#include "velmedia/velmedia.h"
#include "velthread/velthread.h"
#include "vocalia/vocalia.h"
#include "woblog/woblog.h"

namespace {

TEST(VelrtpHeader, ReadsFieldsBigEndian) {
  const uint8_t packet[] = {0x80, 0x80 | 100, 0x12, 0x34, 0x00, 0x01, 0x02,
                            0x03, 0xde,       0xad, 0xbe, 0xef, 0x01, 0x00};
  velrtp_header h{};
  ASSERT_TRUE(velrtp_read_header(packet, sizeof packet, &h));
  EXPECT_EQ(h.marker, 1);
  EXPECT_EQ(h.payload_type, 100);
  EXPECT_EQ(h.sequence, 0x1234);
  EXPECT_EQ(h.timestamp, 0x00010203u);
  EXPECT_EQ(h.ssrc, 0xdeadbeefu);
  // The receiver relies on the marker being the record's first byte.
  static_assert(offsetof(velrtp_header, marker) == 0, "marker first");
}

TEST(VelrtpHeader, RefusesShortOrForeignPackets) {
  uint8_t packet[12] = {0x80, 1};
  velrtp_header h{};
  EXPECT_FALSE(velrtp_read_header(packet, 11, &h));
  EXPECT_FALSE(velrtp_read_header(nullptr, 12, &h));
  EXPECT_FALSE(velrtp_read_header(packet, 12, nullptr));
  packet[0] = 0x40;  // version 1
  EXPECT_FALSE(velrtp_read_header(packet, 12, &h));
  packet[0] = 0x80;
  EXPECT_TRUE(velrtp_read_header(packet, 12, &h));
  EXPECT_EQ(h.marker, 0);
}

TEST(VelmediaSizes, I420AndBgr24) {
  EXPECT_EQ(velmedia_i420_size(640, 480), 640u * 480 * 3 / 2);
  EXPECT_EQ(velmedia_i420_size(3, 3), 9u + 2 * 4);  // chroma rounds up
  EXPECT_EQ(velmedia_i420_size(0, 480), 0u);
  EXPECT_EQ(velmedia_i420_size(-2, 2), 0u);
  EXPECT_EQ(velmedia_bgr24_size(4, 2), 24u);
  EXPECT_EQ(velmedia_bgr24_size(4, -1), 0u);
}

TEST(CommonData, OwnsACopyAndMoves) {
  char src[] = "frame";
  common_data_t a(src, 5);
  src[0] = 'X';
  ASSERT_EQ(a.length, 5u);
  EXPECT_EQ(std::memcmp(a.data, "frame", 5), 0);

  common_data_t b(std::move(a));
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.length, 0u);
  EXPECT_EQ(b.length, 5u);

  common_data_t c(nullptr, 7);
  EXPECT_EQ(c.data, nullptr);
  EXPECT_EQ(c.length, 0u);
  c = std::move(b);
  EXPECT_EQ(c.length, 5u);
  EXPECT_EQ(b.data, nullptr);
  static_assert(!std::is_copy_constructible<common_data_t>::value, "owning, not copyable");
}

TEST(ControlHeader, IsEightBytes) {
  EXPECT_EQ(sizeof(kcp_header_t), 8u);
  EXPECT_EQ(offsetof(kcp_header_t, length), 2u);
  EXPECT_EQ(offsetof(kcp_header_t, type), 4u);
}

TEST(ClipHeader, MagicAndSize) {
  EXPECT_EQ(vocalia_header_size, 9u);
  EXPECT_EQ(std::memcmp(vocalia_magic, "QNVC\x01", 5), 0);
}

// Fakes: each overrides every pure operation, so a missing or mistyped one breaks the build.
int g_freed = 0;

struct fake_upload : velupload {
  ~fake_upload() override { ++g_freed; }
};
struct fake_download : veldownload {
  ~fake_download() override { ++g_freed; }
};
struct fake_record : libvocalia_record {
  ~fake_record() override { ++g_freed; }
};
struct fake_play : libvocalia_play {
  ~fake_play() override { ++g_freed; }
  int set_play_state(int) override { return 0; }
  int seek_percent(int) override { return 0; }
};
struct fake_video_test : video_test {
  ~fake_video_test() override { ++g_freed; }
  int get_device_count() override { return 1; }
  int get_device_name(int, char*, int) override { return 0; }
  int select_device(int) override { return 0; }
  int start() override { return 0; }
  int stop() override { return 0; }
};
struct fake_centra : centra {
  ~fake_centra() override { ++g_freed; }
  int begin_record() override { return 0; }
  int end_record() override { return 0; }
  int pause_record() override { return 0; }
  int resume_record() override { return 0; }
  int record_seconds() override { return 0; }
  int record_file(char*, unsigned) override { return -1; }
  int upload_record(const char*, unsigned) override { return 0; }
};

TEST(Release, FreesThroughTheVirtualDestructor) {
  g_freed = 0;
  (new fake_upload)->release(1);
  (new fake_download)->release(1);
  (new fake_record)->release(1);
  (new fake_play)->release(1);
  device_test* t = new fake_video_test;
  EXPECT_EQ(t->get_device_count(), 1);
  t->destroy(1);
  (new fake_centra)->destroy(1);
  EXPECT_EQ(g_freed, 6);
}

// The remaining interfaces only need to be implementable.
struct all_observers : trans_observer,
                       notify_progress2ui,
                       fc_observer,
                       network_data,
                       velcapture_data_callback,
                       velAudioTransport,
                       velcode_enc_data,
                       velcode_dec_data,
                       bitrate_observer {
  void progress(unsigned, unsigned) override {}
  void trans_error(int) override {}
  void complete() override {}
  void play_progress(unsigned, unsigned) override {}
  void on_progress(int, int, const char*) override {}
  void on_error(int) override {}
  void on_complete() override {}
  void on_upload_progress(unsigned, unsigned) override {}
  void on_network_data(const uint8_t*, unsigned) override {}
  void on_capture_data(const uint8_t*, unsigned, int, int) override {}
  int recorded_data_available(const void*, unsigned, unsigned, unsigned, unsigned) override {
    return 0;
  }
  int need_more_play_data(unsigned, unsigned, unsigned, unsigned, void*, unsigned*) override {
    return 0;
  }
  void on_encoded_data(const uint8_t*, unsigned, uint32_t, int) override {}
  void on_decoded_data(const uint8_t*, int, int) override {}
  void on_bitrate_changed(uint32_t) override {}
};

struct fake_kcp : kcp_client {
  int connect() override { return 0; }
  int close() override { return 0; }
  int recv(kcp_header_t*, void*, unsigned, bool*) override { return -1; }
  int send(const kcp_header_t*, const void*, unsigned) override { return 0; }
  int set_recv_timeout(unsigned) override { return 0; }
};
struct fake_udp : udp_client {
  int open() override { return 0; }
  int send(const uint8_t*, unsigned) override { return 0; }
  int start_recv(network_data*) override { return 0; }
  int stop() override { return 0; }
};
struct fake_capture : velcapture {
  int get_device_count() override { return 0; }
  int get_device_name(int, char*) override { return -1; }
  int open(int, int*, int*, int*, velcapture_data_callback*) override { return -1; }
  int close() override { return 0; }
};
struct fake_audio_device : velaudio_device {
  int set_transport(velAudioTransport*) override { return 0; }
  int get_speaker_count() override { return 0; }
  int get_microphone_count() override { return 0; }
  int get_speaker_name(int, char*) override { return -1; }
  int get_microphone_name(int, char*) override { return -1; }
  int select_microphone(int) override { return -1; }
  int start_recording() override { return -1; }
  int stop_recording() override { return 0; }
};
struct fake_enc : velvideo_enc {
  int encode(const uint8_t*, unsigned, uint32_t) override { return 0; }
};
struct fake_dec : velvideo_dec {
  int decode(const uint8_t*, unsigned) override { return 0; }
};
struct fake_screen : velscreen {
  int grab(uint8_t*, unsigned) override { return -1; }
};
struct fake_bwe : velbandwidth_ctrl {
  int configure(int, int, int) override { return 0; }
  int reconfigure(int, int) override { return 0; }
  int current_estimate() override { return -1; }
  int on_receiver_feedback(uint32_t) override { return 0; }
};
struct fake_gen_fec : gen_fec_packet {
  int send_frame(const uint8_t*, unsigned, uint32_t, bool) override { return 0; }
  int set_payload_types(int, int, int, int) override { return 0; }
  int set_protection(const velfec_protection_t&, const velfec_protection_t&) override { return 0; }
};
struct fake_recv_fec : received_fec_packet {
  int feed(const uint8_t*, unsigned) override { return -1; }
};
struct fake_audira : velaudira {
  int play(const common_data_t*) override { return 0; }
};

TEST(Interfaces, AreImplementable) {
  all_observers observers;
  (void)observers;
  fake_kcp kcp;
  fake_udp udp;
  fake_capture capture;
  fake_audio_device audio;
  fake_enc enc;
  fake_dec dec;
  fake_screen screen;
  fake_bwe bwe;
  fake_gen_fec gen;
  fake_recv_fec recv;
  fake_audira audira;
  kcp_client* k = &kcp;
  EXPECT_EQ(k->connect(), 0);
  udp_client* u = &udp;
  EXPECT_EQ(u->open(), 0);
}

}  // namespace
