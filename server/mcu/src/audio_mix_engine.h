// The mixer without its clock: every tick() mixes one 20 ms frame for every room. Each
// listener gets the sum of all the room's publishers except itself, limited so that it never
// clips, Opus-encoded and sent with its own sequence numbers, timestamps and two frames of
// redundancy. Listeners who hear the same mix (everyone who does not publish) share one
// encoder; a publisher who also listens has its own mix and encoder.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "audio_mixer.h"

namespace mcu {

class audio_publisher;

class audio_mix_engine {
public:
  audio_mix_engine();
  ~audio_mix_engine();

  void add_publisher(uint32_t room, uint32_t user);
  void remove_publisher(uint32_t room, uint32_t user);
  void publisher_datagram(uint32_t room, uint32_t user, const uint8_t* data, std::size_t length);
  void add_listener(uint32_t room, uint32_t listener, audio_mixer::datagram_sink sink);
  // When it returns the listener's sink is not running and will not be called again.
  void remove_listener(uint32_t room, uint32_t listener);

  // Mixes and sends one frame; one caller at a time (the mixing clock).
  void tick();

  // SSRC of every mixed stream: it carries no single speaker.
  static constexpr uint32_t mixed_ssrc = 0;
  static constexpr int bitrate = 48000;

  struct counters {
    uint64_t ticks = 0;
    uint64_t encoded = 0;    // frames encoded (one per distinct mix)
    uint64_t sent = 0;       // datagrams handed to sinks
    uint64_t malformed = 0;  // publisher datagrams dropped
    uint64_t limited = 0;    // mixes turned down to stay clear of clipping
  };
  counters stats() const;

private:
  struct listener_state;
  struct mix_state;
  struct room_state;

  mutable std::mutex mutex_;  // the room tables
  std::map<uint32_t, std::shared_ptr<room_state>> rooms_;

  std::atomic<uint64_t> ticks_{0}, encoded_{0}, sent_{0}, malformed_{0}, limited_{0};
};

// Brings a summed mix into 16-bit range without hard clipping: the gain drops at once to
// what the frame's peak allows and recovers slowly, moving smoothly across each frame.
class mix_limiter {
public:
  // `mix` holds mix_samples summed samples; writes them limited into `out`. True when the
  // gain was below 1 for this frame.
  bool apply(const int32_t* mix, int16_t* out);
  float gain() const { return gain_; }

private:
  float gain_ = 1.0f;
};

}  // namespace mcu
