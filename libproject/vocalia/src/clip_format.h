// The voice clip file (".qn"): header, frame records and the limits a reader enforces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vocalia/vocalia.h"

namespace vocalia_internal {

// Byte offset of the big-endian clip length (whole seconds) in the header.
constexpr unsigned header_seconds_offset = 5;
// Every frame is 20 ms of 48 kHz mono.
constexpr unsigned clip_rate = 48000;
constexpr unsigned frame_samples = clip_rate / 50;
constexpr unsigned frames_per_second = 50;
// Opus never makes a packet longer than this; a longer record means a broken file.
constexpr unsigned max_opus_packet = 1275;

// One frame record: where its Opus bytes start in the file and how many there are.
struct clip_frame {
  std::size_t offset;
  uint16_t length;
};

struct clip_index {
  uint32_t header_seconds = 0;
  std::vector<clip_frame> frames;
  // The frame records end exactly at the end of the data (no cut or bad record after them).
  bool complete = false;
};

// Indexes the clip in `data`. False when it is no clip (shorter than the header, other magic
// or version). Frame records are read up to the first that is empty, longer than an Opus
// packet or cut by the end of the data; everything before it is kept.
bool parse_clip(const uint8_t* data, std::size_t size, clip_index* index);

// The header of a clip of `seconds`.
void make_header(uint32_t seconds, uint8_t header[vocalia_header_size]);

// Clip length for `frames` 20 ms frames: whole seconds, rounded up.
// Whole seconds to the nearest, at least 1 when there is any audio: a clip
// stopped a moment after its third second says 3, as the recorder counted.
inline uint32_t seconds_for_frames(uint64_t frames) {
  if (frames == 0)
    return 0;
  const uint64_t nearest = (frames + frames_per_second / 2) / frames_per_second;
  return static_cast<uint32_t>(nearest == 0 ? 1 : nearest);
}

}  // namespace vocalia_internal
