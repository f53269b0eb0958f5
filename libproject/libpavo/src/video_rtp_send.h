// The sending end of one own video stream: packetises encoded frames with FEC, sends every
// packet to the MCU port at once, and keeps about two seconds of media packets for
// retransmission (MCU message 14).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "libnetra/udp_client.h"
#include "velmedia/velfec.h"

class video_rtp_send {
public:
  // A sender for (ip, port) whose packets carry `ssrc`, for a stream of `kind`. Check
  // is_open(): a sender whose socket did not open moves nothing.
  video_rtp_send(const char* ip, uint16_t port, uint32_t ssrc, int kind);
  ~video_rtp_send();
  video_rtp_send(const video_rtp_send&) = delete;
  video_rtp_send& operator=(const video_rtp_send&) = delete;

  bool is_open() const { return open_; }
  // The FEC share for both frame classes, in percent (rate = percent * 255 / 100).
  void set_protection(int percent);
  // One encoded frame (encoder output). Its timestamp: the first frame fixes the base; a
  // later one not above the previous becomes previous + 1.
  void send_frame(const uint8_t* data, unsigned length, uint32_t timestamp, bool key);
  // Sends again each kept packet whose number is asked for; others are not kept any more.
  void retransmit(const uint16_t* seqs, unsigned count);

  // For tests: the RTP timestamp of the last frame, and the numbers kept.
  uint32_t last_timestamp() const;
  std::vector<uint16_t> kept() const;

private:
  struct his_rtp_data_t {
    unsigned length;
    uint8_t bytes[velfec_max_packet];
    uint16_t sequence;
    uint32_t timestamp;
  };

  static void on_packet(const uint8_t* packet, unsigned length, uint32_t timestamp,
                        uint16_t sequence, void* user);
  void keep(const uint8_t* packet, unsigned length, uint32_t timestamp, uint16_t sequence);

  const int kind_;
  bool open_ = false;
  std::unique_ptr<udp_client> udp_;
  std::unique_ptr<gen_fec_packet> fec_;

  mutable std::mutex mutex_;  // the generator, the timestamps and the history
  bool first_frame_ = true;
  uint32_t base_ = 0;
  uint32_t last_timestamp_ = 0;
  uint32_t oldest_timestamp_ = 0;
  // Media packets in sending order; their numbers are consecutive, so a number's place is its
  // distance from the front.
  std::deque<his_rtp_data_t> history_;
};
