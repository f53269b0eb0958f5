#include "clip_format.h"

#include <cstring>

#include "wirebytes/byte_order.h"
#include "wirebytes/byte_reader.h"

namespace vocalia_internal {

bool parse_clip(const uint8_t* data, std::size_t size, clip_index* index) {
  if (!index)
    return false;
  *index = clip_index();
  wirebytes::byte_reader reader(data, size);
  const uint8_t* magic = reader.bytes(sizeof vocalia_magic);
  const uint32_t seconds = reader.u32();
  if (!reader.ok() || std::memcmp(magic, vocalia_magic, sizeof vocalia_magic) != 0)
    return false;
  index->header_seconds = seconds;
  while (reader.has(2)) {
    const std::size_t at = reader.position();
    const uint16_t length = reader.u16();
    if (length == 0 || length > max_opus_packet || !reader.has(length))
      return true;  // the clip ends before this record
    index->frames.push_back(clip_frame{at + 2, length});
    reader.skip(length);
  }
  index->complete = reader.done();
  return true;
}

void make_header(uint32_t seconds, uint8_t header[vocalia_header_size]) {
  std::memcpy(header, vocalia_magic, sizeof vocalia_magic);
  wirebytes::put_be32(header + header_seconds_offset, seconds);
}

}  // namespace vocalia_internal
