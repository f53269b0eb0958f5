#include "bot_observer.h"

#include <unistd.h>

#include <string>

#include "bot_output.h"

namespace bot {

namespace {

std::string n(int64_t value) {
  return std::to_string(value);
}

void say(const std::string& name, std::initializer_list<int64_t> args) {
  std::string line = name;
  for (int64_t a : args)
    line += " " + n(a);
  print_line(line);
}

void say_message(const std::string& name, uint32_t id, const char* data, unsigned length) {
  std::string line = name + " " + n(id) + " " + n(length);
  if (data && length > 0)
    line += " " + escape(data, length);
  print_line(line);
}

void say_ids(const std::string& name, int value, int count, const uint32_t* ids) {
  std::string line = name + " " + n(value) + " " + n(count);
  for (int i = 0; i < count; ++i)
    line += " " + n(ids[i]);
  print_line(line);
}

std::string pairs(const user_media_t* users, unsigned count) {
  std::string out;
  for (unsigned i = 0; i < count; ++i)
    out += " " + n(users[i].user_id) + ":" + n(users[i].mask);
  return out;
}

}  // namespace

void bot_observer::on_media_event(int event, void* data) {
  switch (event) {
    case pavo_event_media_open:
    case pavo_event_media_close: {
      const auto* s = static_cast<const media_stream_t*>(data);
      say(event == pavo_event_media_open ? "media_open" : "media_close", {s->user_id, s->kind});
      Libpavo* lib = library.load();
      if (event == pavo_event_media_open && auto_subscribe && lib && s->kind != media_kind_audio) {
        user_media_kind_t stream{s->user_id, static_cast<int>(s->kind)};
        lib->media_ctrl(media_cmd_subscribe, &stream);  // refused for the own streams
      }
      break;
    }
    case pavo_event_user_enter: {
      const auto* u = static_cast<const user_media_t*>(data);
      say("user_enter", {u->user_id, u->mask});
      break;
    }
    case pavo_event_user_leave:
      say("user_leave", {*static_cast<const uint32_t*>(data)});
      break;
    case pavo_event_disconnected:
      disconnected = true;
      connected = false;
      print_line("disconnected");
      wake();
      break;
    case pavo_event_reserved: {
      const auto* v = static_cast<const uint32_t*>(data);
      say("reserved", {v[0], v[1]});
      break;
    }
    case pavo_event_user_list: {
      const auto* list = static_cast<const user_list_t*>(data);
      print_line("user_list" + pairs(list->users, list->count));
      break;
    }
    case pavo_event_connect_state: {
      const int state = *static_cast<const int*>(data);
      if (state == 1)
        connected = true;
      print_line(state == 1 ? "connected" : "connect_state " + n(state));
      wake();
      break;
    }
    case pavo_event_video_frame: {
      const auto* frame = static_cast<const video_frame_t*>(data);
      {
        std::lock_guard<std::mutex> lock(frames_mutex_);
        ++frames_[{frame->user_id, frame->kind}];
      }
      newest_frames.keep(frame->user_id, frame->kind, frame->width, frame->height, frame->pixels);
      if (Libpavo* lib = library.load())
        lib->media_ctrl(media_cmd_free_frame, frame->pixels);
      break;
    }
    case pavo_event_existing_media: {
      const auto* list = static_cast<const media_list_t*>(data);
      print_line("existing_media" + pairs(list->list, list->count));
      break;
    }
    case pavo_event_record_volume:
      break;  // ten a second: not worth a line each
    case pavo_event_camera_timeout:
      print_line("camera_timeout");
      break;
    default:
      say("event", {event});
      break;
  }
}

void bot_observer::wake() {
  const int fd = wake_fd.load();
  if (fd < 0)
    return;
  const char byte = 1;
  // A full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t ignored = write(fd, &byte, 1);
}

std::string bot_observer::frame_counts() {
  std::lock_guard<std::mutex> lock(frames_mutex_);
  std::string line = "frames";
  for (const auto& entry : frames_)
    line += " " + n(entry.first.first) + ":" + n(entry.first.second) + ":" + n(entry.second);
  return line;
}

void bot_observer::ss_start_class(uint32_t id) {
  say("ss_start_class", {id});
}
void bot_observer::start_class_ack(int r) {
  say("start_class_ack", {r});
}
void bot_observer::ss_stop_class(uint32_t id) {
  say("ss_stop_class", {id});
}
void bot_observer::stop_class_ack(int r) {
  say("stop_class_ack", {r});
}
void bot_observer::get_class_state_ack(int s) {
  say("get_class_state_ack", {s});
}
void bot_observer::ss_application_share(uint32_t id) {
  say("ss_application_share", {id});
}
void bot_observer::application_share_ack(int r) {
  say("application_share_ack", {r});
}
void bot_observer::ss_cancel_application(uint32_t id) {
  say("ss_cancel_application", {id});
}
void bot_observer::cancel_application_ack(int r) {
  say("cancel_application_ack", {r});
}
void bot_observer::ss_reply_share(uint32_t id, int reply) {
  say("ss_reply_share", {id, reply});
}
void bot_observer::reply_share_ack(uint32_t id, int reply) {
  say("reply_share_ack", {id, reply});
}
void bot_observer::ss_start_share(uint32_t id) {
  say("ss_start_share", {id});
}
void bot_observer::start_share_ack(int r) {
  say("start_share_ack", {r});
}
void bot_observer::ss_stop_share(uint32_t id) {
  say("ss_stop_share", {id});
}
void bot_observer::stop_share_ack(int r) {
  say("stop_share_ack", {r});
}
void bot_observer::get_share_users_ack(int value, int count, const uint32_t* ids) {
  say_ids("get_share_users_ack", value, count, ids);
}
void bot_observer::ss_start_tag(uint32_t id) {
  say("ss_start_tag", {id});
}
void bot_observer::start_tag_ack(int r) {
  say("start_tag_ack", {r});
}
void bot_observer::ss_stop_tag(uint32_t id) {
  say("ss_stop_tag", {id});
}
void bot_observer::stop_tag_ack(int r) {
  say("stop_tag_ack", {r});
}
void bot_observer::get_tag_users_ack(int value, int count, const uint32_t* ids) {
  say_ids("get_tag_users_ack", value, count, ids);
}
void bot_observer::ss_cancel_share(uint32_t id) {
  say("ss_cancel_share", {id});
}
void bot_observer::cancel_share_ack(int r) {
  say("cancel_share_ack", {r});
}
void bot_observer::p2p_msg(uint32_t id, const char* data, unsigned length) {
  say_message("p2p_msg", id, data, length);
}
void bot_observer::p2all_msg(uint32_t id, const char* data, unsigned length) {
  say_message("p2all_msg", id, data, length);
}
void bot_observer::get_classing_user_ack(int code, uint32_t id) {
  say("get_classing_user_ack", {code, id});
}
void bot_observer::p2p_msg_ack(uint32_t id, const char* data, unsigned length) {
  say_message("p2p_msg_ack", id, data, length);
}
void bot_observer::p2all_msg_ack(uint32_t id, const char* data, unsigned length) {
  say_message("p2all_msg_ack", id, data, length);
}
void bot_observer::user_net_state(uint32_t id, int state) {
  say("user_net_state", {id, state});
}

}  // namespace bot
