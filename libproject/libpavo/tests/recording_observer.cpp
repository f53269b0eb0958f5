#include "recording_observer.h"

namespace pavo_test {

void recording_observer::add(const std::string& name, std::vector<int64_t> args, const char* data,
                             unsigned length) {
  ui_call call{name, std::move(args), {}};
  if (data)
    call.data.assign(data, data + length);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }
  changed_.notify_all();
}

void recording_observer::on_media_event(int event, void* data) {
  std::vector<int64_t> args;
  bytes raw;
  switch (event) {
    case pavo_event_media_open:
    case pavo_event_media_close: {
      auto* s = static_cast<media_stream_t*>(data);
      args = {s->user_id, s->kind};
      break;
    }
    case pavo_event_user_enter: {
      auto* u = static_cast<user_media_t*>(data);
      args = {u->user_id, u->mask};
      break;
    }
    case pavo_event_user_leave:
      args = {*static_cast<uint32_t*>(data)};
      break;
    case pavo_event_reserved: {
      auto* v = static_cast<uint32_t*>(data);
      args = {v[0], v[1]};
      break;
    }
    case pavo_event_user_list: {
      auto* list = static_cast<user_list_t*>(data);
      for (unsigned i = 0; i < list->count; ++i) {
        args.push_back(list->users[i].user_id);
        args.push_back(list->users[i].mask);
      }
      break;
    }
    case pavo_event_existing_media: {
      auto* list = static_cast<media_list_t*>(data);
      for (unsigned i = 0; i < list->count; ++i) {
        args.push_back(list->list[i].user_id);
        args.push_back(list->list[i].mask);
      }
      break;
    }
    case pavo_event_connect_state:
      args = {*static_cast<int*>(data)};
      break;
    case pavo_event_video_frame: {
      auto* frame = static_cast<video_frame_t*>(data);
      args = {frame->width, frame->height, frame->user_id, frame->kind};
      if (Libpavo* library = owner.load())
        library->media_ctrl(media_cmd_free_frame, frame->pixels);
      break;
    }
    case pavo_event_record_volume:
      args = {*static_cast<uint16_t*>(data)};
      break;
    default:
      break;
  }
  add("event" + std::to_string(event), std::move(args));
}

void recording_observer::get_share_users_ack(int value, int count, const uint32_t* ids) {
  std::vector<int64_t> args{value, count};
  for (int i = 0; i < count; ++i)
    args.push_back(ids[i]);
  add("get_share_users_ack", std::move(args));
}

void recording_observer::get_tag_users_ack(int value, int count, const uint32_t* ids) {
  std::vector<int64_t> args{value, count};
  for (int i = 0; i < count; ++i)
    args.push_back(ids[i]);
  add("get_tag_users_ack", std::move(args));
}

std::optional<ui_call> recording_observer::next(const std::string& name,
                                                std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<ui_call> found;
  changed_.wait_for(lock, limit, [&] {
    for (auto it = calls_.begin(); it != calls_.end(); ++it) {
      if (it->name == name) {
        found = std::move(*it);
        calls_.erase(it);
        return true;
      }
    }
    return false;
  });
  return found;
}

std::optional<ui_call> recording_observer::next_any(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, limit, [&] { return !calls_.empty(); }))
    return std::nullopt;
  ui_call call = std::move(calls_.front());
  calls_.pop_front();
  return call;
}

std::size_t recording_observer::count(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t n = 0;
  for (const auto& call : calls_)
    n += call.name == name;
  return n;
}

}  // namespace pavo_test
