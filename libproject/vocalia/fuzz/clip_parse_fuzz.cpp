// Fuzz entry for the clip reader: the input is a clip file. Every indexed frame must lie
// inside the input with a length Opus accepts, and decoding each must neither crash nor
// yield more than 120 ms of sound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <opus.h>

#include "clip_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace vocalia_internal;
  // An exact copy, so reading past it shows under the sanitizers.
  const std::vector<uint8_t> file(data, data + size);
  clip_index index;
  if (!parse_clip(file.empty() ? nullptr : file.data(), file.size(), &index))
    return 0;
  if (size < vocalia_header_size)
    std::abort();
  int error = 0;
  OpusDecoder* decoder = opus_decoder_create(48000, 1, &error);
  if (!decoder)
    std::abort();
  std::vector<int16_t> pcm(5760);
  std::size_t end = vocalia_header_size;
  for (const clip_frame& frame : index.frames) {
    if (frame.length == 0 || frame.length > max_opus_packet || frame.offset != end + 2 ||
        frame.offset + frame.length > size)
      std::abort();
    end = frame.offset + frame.length;
    const int decoded = opus_decode(decoder, file.data() + frame.offset, frame.length, pcm.data(),
                                    static_cast<int>(pcm.size()), 0);
    if (decoded > static_cast<int>(pcm.size()))
      std::abort();
  }
  if (index.complete != (end == size))
    std::abort();
  opus_decoder_destroy(decoder);
  return 0;
}
