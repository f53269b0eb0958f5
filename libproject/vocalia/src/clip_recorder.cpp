#include "clip_recorder.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "clip_format.h"
#include "velmedia/velsample_encode.h"
#include "wirebytes/byte_order.h"
#include "woblog/woblog.h"

namespace vocalia_internal {

std::unique_ptr<clip_recorder> clip_recorder::open(const char* path, unsigned short device,
                                                   uint32_t max_frames) {
  if (!path || !*path)
    return nullptr;
  std::FILE* file = std::fopen(path, "wb");
  if (!file) {
    qn::log("vocalia: cannot create %s: %s", path, std::strerror(errno));
    return nullptr;
  }
  // Until the recording ends the header says 0 seconds.
  uint8_t header[vocalia_header_size];
  make_header(0, header);
  if (std::fwrite(header, 1, sizeof header, file) != sizeof header || std::fflush(file) != 0) {
    qn::log("vocalia: cannot write %s: %s", path, std::strerror(errno));
    std::fclose(file);
    std::remove(path);
    return nullptr;
  }
  std::unique_ptr<clip_recorder> recorder(new (std::nothrow) clip_recorder(file, max_frames));
  if (!recorder) {
    std::fclose(file);
    std::remove(path);
    return nullptr;
  }
  recorder->encoder_ =
      velsample_encode_open(1, static_cast<int>(clip_rate), record_bitrate,
                            &clip_recorder::on_frame, device, recorder.get(), true);
  if (!recorder->encoder_) {
    qn::log("vocalia: microphone %u does not record", static_cast<unsigned>(device));
    recorder.reset();
    std::remove(path);  // no recording, no clip left behind
    return nullptr;
  }
  qn::log("vocalia: recording microphone %u into %s", static_cast<unsigned>(device), path);
  return recorder;
}

clip_recorder::~clip_recorder() {
  // Closing joins the capture thread, so the frame count is final afterwards.
  velsample_encode_close(encoder_);
  if (!file_)
    return;
  if (encoder_) {
    uint8_t seconds[4];
    wirebytes::put_be32(seconds, seconds_for_frames(frames_.load()));
    if (std::fseek(file_, header_seconds_offset, SEEK_SET) != 0 ||
        std::fwrite(seconds, 1, sizeof seconds, file_) != sizeof seconds)
      qn::log("vocalia: cannot write the clip length: %s", std::strerror(errno));
  }
  if (std::fclose(file_) != 0)
    qn::log("vocalia: closing the clip failed: %s", std::strerror(errno));
}

void clip_recorder::on_frame(const uint8_t* data, unsigned length, uint32_t, void* user) {
  static_cast<clip_recorder*>(user)->append(data, length);
}

void clip_recorder::append(const uint8_t* data, unsigned length) {
  if (write_failed_ || frames_.load() >= max_frames_ || !data || length == 0 ||
      length > max_opus_packet)
    return;
  uint8_t prefix[2];
  wirebytes::put_be16(prefix, static_cast<uint16_t>(length));
  // Flushed per frame: the file holds every frame so far, and a recording cut short by a
  // crash is still a playable clip (of length 0).
  if (std::fwrite(prefix, 1, sizeof prefix, file_) != sizeof prefix ||
      std::fwrite(data, 1, length, file_) != length || std::fflush(file_) != 0) {
    qn::log("vocalia: writing the clip failed, recording stops: %s", std::strerror(errno));
    write_failed_ = true;
    return;
  }
  frames_.fetch_add(1);
}

}  // namespace vocalia_internal

libvocalia_record* libvocalia_record::create(const char* path, unsigned short device) {
  return vocalia_internal::clip_recorder::open(path, device).release();
}
