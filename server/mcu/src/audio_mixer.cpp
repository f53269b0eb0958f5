// Placeholder mixer that drops everything; replaced by the Opus mixer.
#include "audio_mixer.h"

namespace mcu {
namespace {

class silent_mixer : public audio_mixer {
public:
  void add_publisher(uint32_t, uint32_t) override {}
  void remove_publisher(uint32_t, uint32_t) override {}
  void publisher_datagram(uint32_t, uint32_t, const uint8_t*, std::size_t) override {}
  void add_listener(uint32_t, uint32_t, datagram_sink) override {}
  void remove_listener(uint32_t, uint32_t) override {}
};

}  // namespace

std::unique_ptr<audio_mixer> make_audio_mixer() { return std::make_unique<silent_mixer>(); }

}  // namespace mcu
