// The own microphone sender: capture and Opus encoding (velsample_encode), one datagram per
// 20 ms frame to the MCU's audio port, with the two previous frames as redundancy.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "audio_rtp_packet.h"
#include "libnetra/udp_client.h"
#include "media_seams.h"
#include "velmedia/velsample_encode.h"

class audio_sender : public audio_ctrl {
public:
  audio_sender(int channels, int sample_rate, uint16_t microphone_index)
      : channels_(channels), sample_rate_(sample_rate), microphone_index_(microphone_index) {}
  ~audio_sender() override { stop(); }

  int start(const char* ip, uint16_t port, uint32_t own_id) override;
  void stop() override;

  static constexpr int bitrate = 48000;

private:
  static void on_frame(const uint8_t* data, unsigned length, uint32_t timestamp, void* self);

  const int channels_;
  const int sample_rate_;
  const uint16_t microphone_index_;
  velsample_encoder* encoder_ = nullptr;  // only the caller's thread touches it

  std::mutex mutex_;  // the packetiser, taken by every frame and by stop
  std::unique_ptr<audio_rtp_packetizer> packetizer_;
  std::unique_ptr<udp_client> udp_;  // null when the socket did not open: nothing is sent
  uint8_t packet_[audio_max_datagram];
};
