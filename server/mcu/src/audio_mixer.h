// Audio in a room: every listener gets one stream, the mix of every audio publisher of the
// room except itself. The media relay owns the sockets: it hands the mixer what publishers
// send and gives it, per listener, where that listener's stream goes. The mixer runs its own
// clock (one 20 ms frame per tick) and may call sinks from its own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace mcu {

class audio_mixer {
public:
  // Sends one datagram to one listener; must not block.
  using datagram_sink = std::function<void(const uint8_t* data, std::size_t length)>;

  virtual ~audio_mixer() = default;

  virtual void add_publisher(uint32_t room, uint32_t user) = 0;
  virtual void remove_publisher(uint32_t room, uint32_t user) = 0;
  // One datagram as the publisher sent it (unchecked: the mixer validates it).
  virtual void publisher_datagram(uint32_t room, uint32_t user, const uint8_t* data,
                                  std::size_t length) = 0;

  // `listener`'s mixed stream goes to `sink` from now on (replaces an earlier sink).
  virtual void add_listener(uint32_t room, uint32_t listener, datagram_sink sink) = 0;
  virtual void remove_listener(uint32_t room, uint32_t listener) = 0;
};

// The Opus mixer; its mixing thread runs until it is destroyed.
std::unique_ptr<audio_mixer> make_audio_mixer();

}  // namespace mcu
