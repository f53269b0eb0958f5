// What the camera and screen senders share: the encoder, the bandwidth controller and the
// RTP sender, each under its own mutex; the queue of captured frames and the encoding thread
// that empties it; retransmission and feedback from the MCU.
//
// Lock order: bandwidth controller -> encoder -> RTP sender (the encoder's output goes to the
// RTP sender from inside encode; the bandwidth controller's observer re-creates the encoder).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "frame_queue.h"
#include "media_seams.h"
#include "velmedia/velbandwidth_ctrl.h"
#include "velmedia/velvideo_enc.h"
#include "velthread/velthread.h"
#include "video_quality.h"
#include "video_rtp_send.h"

namespace pavo {

class video_sender_core : public video_ctrl,
                          public velcode_enc_data,
                          public bitrate_observer,
                          protected lthread {
public:
  // video_ctrl, the parts both senders share
  void retransmit(const uint16_t* seqs, unsigned count) override;
  void bandwidth_feedback(uint32_t value) override;

  // velcode_enc_data: the encoder's output, on the encoding thread.
  void on_encoded_data(const uint8_t* data, unsigned length, uint32_t timestamp,
                       int frame_type) override;
  // bitrate_observer: the estimate moved (inside a bandwidth controller call).
  void on_bitrate_changed(uint32_t bitrate_bps) override;

  // For tests: the base and current rate (kbit/s), the FEC share (percent), frames waiting.
  int base_kbps() const;
  int current_kbps() const;
  int fec_percent() const { return fec_percent_; }
  std::size_t queued() { return queue_.size(); }
  uint64_t dropped() { return queue_.dropped(); }

protected:
  video_sender_core(sendmsg2ui* ui, int kind, bool screen);
  ~video_sender_core() override;

  // Start steps. The picture size and rate are set before make_encoder.
  void set_format(int width, int height, int fps);
  bool make_encoder(int kbps);  // base and current rate = kbps
  void make_bandwidth_ctrl(int start_kbps, int min_kbps, int max_kbps);
  void release_bandwidth_ctrl();
  // Creates the RTP sender (discarded when its socket does not open).
  void make_rtp(const char* ip, uint16_t port, uint32_t ssrc, int fec_percent);
  void release_rtp();
  void start_encoding();
  // Ends the encoding thread, releases the encoder and drops what is queued.
  void stop_encoding();

  // The bandwidth estimate in bit/s, -1 without a controller.
  int64_t estimate();
  // Applies a quality step: re-creates the encoder at its rate, sets its FEC share.
  void apply(const quality_step& step);
  void rates(int* base, int* current) const;
  bool encoding() const { return running_; }

  // How long the encoding thread waits for a frame (negative: without limit), and what a
  // wait that ran out does: true to wait again, false to end the encoding thread.
  virtual int frame_wait_ms() const = 0;
  virtual bool on_frame_timeout() { return false; }
  // Whether the estimate may move the base rate now.
  virtual bool follows_estimate() { return true; }
  // A captured picture about to be encoded, on the encoding thread with no lock held (the
  // screen sender may call the observer here).
  virtual void before_encode(queued_frame& frame) { (void)frame; }

  sendmsg2ui* const ui_;
  const int kind_;
  const bool screen_;
  uint32_t ssrc_ = 0;
  int width_ = 0, height_ = 0, fps_ = 0;
  frame_queue queue_;

private:
  void run() override;
  void on_quit() override { queue_.stop(); }
  bool recreate_encoder(int kbps);  // under enc_mutex_

  mutable std::mutex enc_mutex_;
  std::unique_ptr<velvideo_enc> encoder_;
  int base_kbps_ = 0, current_kbps_ = 0;

  std::mutex bwc_mutex_;
  std::unique_ptr<velbandwidth_ctrl> bwc_;

  std::mutex rtp_mutex_;
  std::unique_ptr<video_rtp_send> rtp_;
  std::atomic<int> fec_percent_{10};

  std::atomic<bool> running_{false};
};

}  // namespace pavo
