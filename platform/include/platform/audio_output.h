// The system's audio output devices and its default playback device.
//
// Linux: PulseAudio's sinks (id = sink name, name = its description), when a PulseAudio
// (or PipeWire-Pulse) server runs; without one both calls fail quickly. Windows: the active
// render endpoints of Core Audio (id = endpoint id, name = friendly name).
// Every call is bounded in time and safe from any thread.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct AudioOutput {
  std::string id;    // what setDefaultAudioOutput takes
  std::string name;  // shown to the user (UTF-8)
};

// The output devices in the system's order; empty when there are none or the sound system
// cannot be reached, and then *error (when given) says why.
std::vector<AudioOutput> audioOutputs(std::string* error = nullptr);

// Makes output `id` the system's default playback device. False, with *error, when the id is
// not a current output, the sound system cannot be reached, or it refuses.
bool setDefaultAudioOutput(const std::string& id, std::string* error = nullptr);

}  // namespace platform
