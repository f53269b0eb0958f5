// Where the audio and video paths plug into the control side.
//
// The control side decides when a stream starts and stops (MCU messages 9, 10, 11, 12, 21,
// media_ctrl 5, 6, 14-18, 30, 31) and routes the MCU's feedback (14, 16, 17); the objects
// that move media are made by a media_factory: default_media_factory() makes the real audio
// and video paths, pending_media_factory() stand-ins that take a stream's place (kind,
// address, port) and move no media.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "control_wire.h"
#include "sendmsg2mcu.h"
#include "sendmsg2ui.h"

// An own video sender (camera or screen share).
class video_ctrl {
public:
  virtual ~video_ctrl() = default;                                    // slot 0
  virtual void retransmit(const uint16_t* seqs, unsigned count) = 0;  // slot 1
  virtual void bandwidth_feedback(uint32_t value) = 0;                // slot 2
  virtual void quality_level(uint32_t level) = 0;                     // slot 3
  virtual int start(const char* ip, uint16_t port, uint32_t ssrc, int max_kbps,
                    int min_kbps) = 0;                                          // slot 4
  virtual void stop() = 0;                                                      // slot 5
  virtual int set_capture_param(int width, int height, int fps, int kbps) = 0;  // slot 6
  virtual int restart(int kbps, int min_kbps, int max_kbps) = 0;                // slot 7
  virtual void set_source(int32_t source, int32_t live) = 0;                    // slot 8
  virtual void grabber_state(int state) = 0;                                    // slot 9
};

// The own microphone sender.
class audio_ctrl {
public:
  virtual ~audio_ctrl() = default;
  // 0 started; -1 when capture does not open.
  virtual int start(const char* ip, uint16_t port, uint32_t own_id) = 0;
  virtual void stop() = 0;
};

// A remote stream being received (a video receiver or the room's audio receiver); deleting
// it stops it.
class media_receiver {
public:
  virtual ~media_receiver() = default;
  // For the loss report (MCU message 15): true with the stream's kind and the packet numbers
  // it misses (possibly none); false for a receiver that reports nothing (audio).
  virtual bool loss_list(int* kind, std::vector<uint16_t>* missing) {
    (void)kind;
    (void)missing;
    return false;
  }
};

class media_factory {
public:
  virtual ~media_factory() = default;
  virtual std::shared_ptr<video_ctrl> create_camera_sender(sendmsg2ui* ui,
                                                           uint16_t camera_index) = 0;
  virtual std::shared_ptr<video_ctrl> create_screen_sender(sendmsg2ui* ui) = 0;
  virtual std::unique_ptr<audio_ctrl> create_audio_sender(int channels, int sample_rate,
                                                          uint16_t microphone_index) = 0;
  // A receiver registers at the MCU's port with the own id and the session's media token (the
  // one that came with the port).
  virtual std::unique_ptr<media_receiver> create_video_receiver(
      const char* ip, uint16_t port, uint32_t own_id, const pavo_wire::media_token& token,
      uint32_t remote_id, int kind, sendmsg2ui* ui, sendmsg2mcu* mcu) = 0;
  virtual std::unique_ptr<media_receiver> create_audio_receiver(const char* ip, uint16_t port,
                                                                uint32_t own_id,
                                                                const pavo_wire::media_token& token,
                                                                int speaker_index) = 0;
};

namespace pavo {
// The audio and video paths (audio_media.h, video_media.h).
media_factory& default_media_factory();
// Stand-ins that move no media.
media_factory& pending_media_factory();
}  // namespace pavo
