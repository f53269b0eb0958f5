// The own senders: the microphone sender and at most one video sender per kind (1 camera,
// 4 screen share). Senders are held by shared ownership, so a report being routed to one
// keeps it alive while it is stopped.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "libpavo/libpavo.h"
#include "media_seams.h"

class local_media {
public:
  local_media(uint32_t own_id, media_factory& factory, sendmsg2ui* ui);
  ~local_media();  // stops every sender
  local_media(const local_media&) = delete;
  local_media& operator=(const local_media&) = delete;

  void select_camera(uint16_t index) { camera_index_ = index; }
  void select_microphone(uint16_t index) { microphone_index_ = index; }
  // Capture parameters of the next video start.
  void set_video_capture(int width, int height, int fps, int start_kbps);
  void set_audio_param(int channels, int sample_rate);

  // The kinds running: bit 2 while audio runs, or-ed with the video senders' kinds.
  uint32_t kinds() const;
  bool is_open(int kind) const { return (kinds() & static_cast<uint32_t>(kind)) != 0; }

  // Starts the sender of `kind` (1, 2 or 4) towards (ip, port). The sender's result; -1 for
  // other kinds or when it does not start. A running kind is not started again (0).
  int start(const char* ip, uint16_t port, int kind, int max_kbps, int min_kbps,
            share_source_t share_source);
  // Stops the sender of `kind`; true when it was running.
  bool stop(int kind);

  // MCU feedback for the video sender of a kind (kind 2 is ignored).
  void retransmit(uint32_t kind, const uint16_t* seqs, unsigned count);
  void bandwidth_feedback(uint32_t kind, uint32_t value);
  void quality_level(uint32_t kind, uint32_t level);

  // The screen sender's source (media_ctrl 14); -1 when no screen sender runs.
  int set_share_source(share_source_t source);
  // media_ctrl 30: a new source, or (null) re-create the grabber; 31: drop the grabber.
  int record_source(const share_source_t* source);
  int pause_grab();

private:
  std::shared_ptr<video_ctrl> video_sender(uint32_t kind) const;

  const uint32_t own_id_;
  media_factory& factory_;
  sendmsg2ui* ui_;
  uint16_t camera_index_ = 0;
  uint16_t microphone_index_ = 0;
  int width_ = 0, height_ = 0, fps_ = 0, start_kbps_ = 0;
  int channels_ = 2, sample_rate_ = 48000;

  mutable std::mutex audio_mutex_;
  std::unique_ptr<audio_ctrl> audio_;

  mutable std::mutex video_mutex_;
  std::map<uint32_t, std::shared_ptr<video_ctrl>> video_;
};
