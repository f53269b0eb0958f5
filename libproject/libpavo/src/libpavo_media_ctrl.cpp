// media_ctrl: device commands (usable without a connection) and media commands.
#include <cstdint>
#include <cstdio>

#include "control_wire.h"
#include "device_query.h"
#include "frame_buffer.h"
#include "libpavo_impl.h"
#include "wirebytes/byte_order.h"
#include "woblog/woblog.h"

using namespace pavo;
using namespace pavo_wire;

namespace {

int scalar(void* arg) {
  return static_cast<int>(reinterpret_cast<intptr_t>(arg));
}

// Big-endian u32 at byte 5 of the first 9 bytes of a file (a voice clip's length).
int clip_seconds(const char* path) {
  if (!path)
    return -1;
  std::FILE* file = std::fopen(path, "rb");
  if (!file)
    return -1;
  uint8_t head[9];
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  if (got != sizeof head)
    return -1;
  return static_cast<int>(wirebytes::get_be32(head + 5));
}

}  // namespace

int libpavo::media_ctrl(unsigned cmd, void* arg) {
  switch (cmd) {
    case media_cmd_device_count:
    case media_cmd_device_name:
    case media_cmd_select_device:
    case media_cmd_clip_seconds:
    case media_cmd_speaker_count:
    case media_cmd_speaker_name:
    case media_cmd_select_speaker:
    case media_cmd_start_level:
    case media_cmd_stop_level:
      return device_command(cmd, arg);
    case media_cmd_free_frame:
      // Frames are returned also after a disconnection; refusing them would leak them.
      frame_free(arg);
      return 0;
    case media_cmd_frame_format: {
      // Chosen before the first picture can arrive, so also without a connection.
      const int format = scalar(arg);
      if (format != pavo_frame_rgb24 && format != pavo_frame_rgb32)
        return -1;
      frame_format_ = format;
      return 0;
    }
    default:
      break;
  }
  if (!connected_)
    return -1;
  switch (cmd) {
    case media_cmd_open_media:
      return open_media(static_cast<const user_media_kind_t*>(arg));
    case media_cmd_close_media:
      return close_media(static_cast<const user_media_kind_t*>(arg));
    case media_cmd_user_list:
      return send_msg(msg_user_list, nullptr, 0);
    case media_cmd_reserved: {
      uint8_t payload[4];
      wirebytes::put_be32(payload, static_cast<uint32_t>(scalar(arg)));
      return send_msg(msg_reserved, payload, sizeof payload);
    }
    case media_cmd_subscribe:
      return subscribe(static_cast<const user_media_kind_t*>(arg));
    case media_cmd_unsubscribe:
      return unsubscribe(static_cast<const user_media_kind_t*>(arg));
    case media_cmd_share_source:
    case media_cmd_stop_share:
    case media_cmd_record_source:
    case media_cmd_pause_grab:
      return share_command(cmd, arg);
    case media_cmd_video_on:
      video_delivery_ = true;
      return 0;
    case media_cmd_video_off:
      video_delivery_ = false;
      return 0;
    default:
      return 0;
  }
}

int libpavo::device_command(unsigned cmd, void* arg) {
  switch (cmd) {
    case media_cmd_device_count: {
      const int kind = scalar(arg);
      if (kind == media_kind_video)
        return camera_count();
      if (kind == media_kind_audio)
        return microphone_count();
      return -1;
    }
    case media_cmd_device_name: {
      auto* request = static_cast<device_name_t*>(arg);
      if (!request)
        return -1;
      if (request->kind == media_kind_video)
        return camera_name(request->index, request->name);
      if (request->kind == media_kind_audio)
        return microphone_name(request->index, request->name);
      return -1;
    }
    case media_cmd_select_device: {
      auto* request = static_cast<const device_select_t*>(arg);
      if (!request)
        return -1;
      if (request->kind == media_kind_video) {
        if (request->index >= camera_count())
          return -1;
        camera_index_ = request->index;
        return 0;
      }
      if (request->kind == media_kind_audio) {
        if (request->index >= microphone_count())
          return -1;
        microphone_index_ = request->index;
        return 0;
      }
      return -1;
    }
    case media_cmd_clip_seconds:
      return clip_seconds(static_cast<const char*>(arg));
    case media_cmd_speaker_count:
      return speaker_count();
    case media_cmd_speaker_name: {
      auto* request = static_cast<speaker_name_t*>(arg);
      return request ? speaker_name(request->index, request->name) : -1;
    }
    case media_cmd_select_speaker: {
      const int* index = static_cast<const int*>(arg);
      if (!index || *index < 0 || *index >= speaker_count())
        return -1;
      speaker_index_ = *index;
      return 0;
    }
    case media_cmd_start_level: {
      std::lock_guard<std::mutex> lock(volume_mutex_);
      volume_.reset();
      volume_ = record_volume::create(scalar(arg), this);
      if (!volume_) {
        std::printf("new record_volume err:%d\n", -1);
        return -1;
      }
      return 0;
    }
    case media_cmd_stop_level: {
      std::unique_ptr<record_volume> meter;
      {
        std::lock_guard<std::mutex> lock(volume_mutex_);
        meter = std::move(volume_);
      }
      return 0;
    }
    default:
      return -1;
  }
}

int libpavo::open_media(const user_media_kind_t* arg) {
  if (!arg)
    return -1;
  if (arg->user_id == user_id_) {
    {
      std::lock_guard<std::mutex> lock(media_mutex_);
      if (!local_ || local_->is_open(arg->kind))
        return -1;
    }
    if (arg->kind == media_kind_video && camera_count() == 0)
      return -1;
    if (arg->kind == media_kind_audio && microphone_count() == 0)
      return -1;
  }
  uint8_t payload[8];
  wirebytes::put_be32(payload, arg->user_id);
  wirebytes::put_be32(payload + 4, static_cast<uint32_t>(arg->kind));
  return send_msg(msg_open_media, payload, sizeof payload);
}

int libpavo::close_media(const user_media_kind_t* arg) {
  if (!arg)
    return -1;
  if (arg->user_id == user_id_) {
    bool stopped = false;
    {
      std::lock_guard<std::mutex> lock(media_mutex_);
      stopped = local_ && local_->stop(arg->kind);
    }
    if (!stopped)
      return -1;
    notify_stream(pavo_event_media_close, user_id_, static_cast<uint32_t>(arg->kind));
  }
  uint8_t payload[8];
  wirebytes::put_be32(payload, arg->user_id);
  wirebytes::put_be32(payload + 4, static_cast<uint32_t>(arg->kind));
  return send_msg(msg_close_media, payload, sizeof payload);
}

int libpavo::subscribe(const user_media_kind_t* arg) {
  if (!arg || arg->user_id == user_id_ || arg->kind == media_kind_audio)
    return -1;
  {
    std::lock_guard<std::mutex> lock(users_mutex_);
    auto it = users_.find(arg->user_id);
    if (it != users_.end() && it->second->has(arg->kind))
      return -1;
  }
  uint8_t payload[8];
  wirebytes::put_be32(payload, arg->user_id);
  wirebytes::put_be32(payload + 4, static_cast<uint32_t>(arg->kind));
  return send_msg(msg_subscribe, payload, sizeof payload);
}

int libpavo::unsubscribe(const user_media_kind_t* arg) {
  if (!arg)
    return -1;
  if (arg->user_id == user_id_ || arg->kind == media_kind_audio)
    return 0;  // nothing of ours to stop
  {
    std::lock_guard<std::mutex> lock(users_mutex_);
    auto it = users_.find(arg->user_id);
    if (it != users_.end())
      it->second->stop_receiver(arg->kind);
  }
  uint8_t payload[8];
  wirebytes::put_be32(payload, arg->user_id);
  wirebytes::put_be32(payload + 4, static_cast<uint32_t>(arg->kind));
  return send_msg(msg_unsubscribe, payload, sizeof payload);
}

int libpavo::share_command(unsigned cmd, void* arg) {
  uint8_t payload[8];
  wirebytes::put_be32(payload, user_id_);
  wirebytes::put_be32(payload + 4, media_kind_screen);
  switch (cmd) {
    case media_cmd_share_source: {
      const auto* source = static_cast<const share_source_t*>(arg);
      if (!source)
        return -1;
      bool running = false;
      {
        std::lock_guard<std::mutex> lock(media_mutex_);
        share_source_ = *source;
        running = local_ && local_->set_share_source(*source) == 0;
      }
      return running ? 0 : send_msg(msg_open_media, payload, sizeof payload);
    }
    case media_cmd_stop_share: {
      {
        std::lock_guard<std::mutex> lock(media_mutex_);
        if (local_)
          local_->stop(media_kind_screen);
      }
      return send_msg(msg_close_media, payload, sizeof payload);
    }
    case media_cmd_record_source: {
      std::lock_guard<std::mutex> lock(media_mutex_);
      if (arg)
        share_source_ = *static_cast<const share_source_t*>(arg);
      return local_ ? local_->record_source(static_cast<const share_source_t*>(arg)) : -1;
    }
    case media_cmd_pause_grab: {
      std::lock_guard<std::mutex> lock(media_mutex_);
      return local_ ? local_->pause_grab() : -1;
    }
    default:
      return -1;
  }
}
