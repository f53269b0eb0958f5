// What MCU messages change in the library: users, the own senders, remote streams and the
// room's audio.
#include "control_wire.h"
#include "device_query.h"
#include "libpavo_impl.h"
#include "video_param.h"
#include "wirebytes/byte_order.h"
#include "woblog/woblog.h"

using namespace pavo;
using namespace pavo_wire;

namespace {

bool is_video_kind(uint32_t kind) {
  return kind == media_kind_video || kind == media_kind_screen || kind == media_kind_doc_camera;
}

}  // namespace

void libpavo::notify_stream(int event, uint32_t user_id, uint32_t kind) {
  media_stream_t stream{user_id, kind};
  observer_->on_media_event(event, &stream);
}

void libpavo::on_logged_in() {
  connected_ = true;
  int state = 1;
  observer_->on_media_event(pavo_event_connect_state, &state);
}

void libpavo::on_user_list(const user_media_t* users, unsigned count) {
  user_list_t list{const_cast<user_media_t*>(users), count};
  observer_->on_media_event(pavo_event_user_list, &list);
}

void libpavo::on_user_left(uint32_t user_id) {
  std::unique_ptr<user_media_ctrl> user;
  {
    std::lock_guard<std::mutex> lock(users_mutex_);
    auto it = users_.find(user_id);
    if (it != users_.end()) {
      user = std::move(it->second);
      users_.erase(it);
    }
  }
  const uint32_t kinds = user ? user->kinds() : 0;
  user.reset();  // stops its receivers
  for (uint32_t kind : {1u, 2u, 4u, 32u})
    if (kinds & kind)
      notify_stream(pavo_event_media_close, user_id, kind);
  if (remove_audio_publisher(user_id))
    notify_stream(pavo_event_media_close, user_id, media_kind_audio);
  uint32_t id = user_id;
  observer_->on_media_event(pavo_event_user_leave, &id);
}

void libpavo::on_reserved(uint32_t a, uint32_t b) {
  uint32_t values[2] = {a, b};
  observer_->on_media_event(pavo_event_reserved, values);
}

uint32_t libpavo::device_mask() {
  return pavo::device_mask();
}

void libpavo::on_open_sender(uint32_t kind, uint16_t port) {
  if (kind < 1 || kind > 32)
    return;
  const video_param_t* params = video_param();
  bool started = false;
  int min_kbps = 0;
  {
    std::lock_guard<std::mutex> lock(media_mutex_);
    if (!local_ || local_->is_open(static_cast<int>(kind)))
      return;
    if (kind == media_kind_audio) {
      local_->select_microphone(microphone_index_);
      local_->set_audio_param(2, 48000);
      local_->start(mcu_ip_.c_str(), port, media_kind_audio, 0, 0, share_source_);
      started = true;  // the event follows whether or not capture started
    } else if (kind == media_kind_video || kind == media_kind_screen) {
      const video_param_set_t& set = kind == media_kind_video ? params->student : params->share;
      local_->select_camera(camera_index_);
      local_->set_video_capture(set.width, set.height, params->teacher.fps, set.start_bitrate);
      min_kbps = set.min_bitrate;
      started = local_->start(mcu_ip_.c_str(), port, static_cast<int>(kind), set.max_bitrate,
                              set.min_bitrate, share_source_) == 0;
    }
  }
  if (!started)
    return;
  if (kind != media_kind_audio) {
    uint8_t payload[12];
    wirebytes::put_be32(payload, user_id_);
    wirebytes::put_be32(payload + 4, kind);
    wirebytes::put_be32(payload + 8, static_cast<uint32_t>(min_kbps));
    send_msg(msg_sender_started, payload, sizeof payload);
  }
  notify_stream(pavo_event_media_open, user_id_, kind);
}

void libpavo::on_close_sender(uint32_t user_id, uint32_t kind) {
  bool was_open = true;  // without local_media the stream counts as closed now
  {
    std::lock_guard<std::mutex> lock(media_mutex_);
    if (local_)
      was_open = local_->stop(static_cast<int>(kind));
  }
  if (was_open)
    notify_stream(pavo_event_media_close, user_id, kind);
}

user_media_ctrl& libpavo::remote_user(uint32_t user_id) {
  std::unique_ptr<user_media_ctrl>& user = users_[user_id];
  if (!user)
    user = std::make_unique<user_media_ctrl>(user_id, user_id_, this, this, factory_);
  return *user;
}

void libpavo::on_media_published(uint32_t user_id, uint32_t kind) {
  {
    std::lock_guard<std::mutex> lock(users_mutex_);
    remote_user(user_id);
  }
  if (kind == media_kind_audio)
    add_audio_publisher(user_id);
  if (kind == media_kind_audio || is_video_kind(kind))
    notify_stream(pavo_event_media_open, user_id, kind);
}

void libpavo::on_media_unpublished(uint32_t user_id, uint32_t kind) {
  if (is_video_kind(kind)) {
    std::lock_guard<std::mutex> lock(users_mutex_);
    auto it = users_.find(user_id);
    if (it != users_.end())
      it->second->stop_receiver(static_cast<int>(kind));
  } else if (kind == media_kind_audio) {
    remove_audio_publisher(user_id);
  } else {
    return;
  }
  notify_stream(pavo_event_media_close, user_id, kind);
}

void libpavo::on_user_login(const user_media_t& user) {
  user_media_t copy = user;
  observer_->on_media_event(pavo_event_user_enter, &copy);
}

void libpavo::on_retransmit(uint32_t kind, const uint16_t* seqs, unsigned count) {
  std::lock_guard<std::mutex> lock(media_mutex_);
  if (local_)
    local_->retransmit(kind, seqs, count);
}

void libpavo::on_bandwidth(uint32_t kind, uint32_t value) {
  std::lock_guard<std::mutex> lock(media_mutex_);
  if (local_)
    local_->bandwidth_feedback(kind, value);
}

void libpavo::on_quality(uint32_t kind, uint32_t level) {
  std::lock_guard<std::mutex> lock(media_mutex_);
  if (local_)
    local_->quality_level(kind, level);
}

void libpavo::on_media_port(uint32_t user_id, uint32_t kind, uint16_t port,
                            const pavo_wire::media_token& token) {
  if (is_video_kind(kind)) {
    std::lock_guard<std::mutex> lock(users_mutex_);
    remote_user(user_id).start_receiver(mcu_ip_.c_str(), port, static_cast<int>(kind), token);
  } else if (kind == media_kind_audio) {
    std::unique_ptr<media_receiver> receiver =
        factory_.create_audio_receiver(mcu_ip_.c_str(), port, user_id_, token, speaker_index_);
    std::lock_guard<std::mutex> lock(audio_mutex_);
    audio_recv_.swap(receiver);
    // A replaced receiver stops as `receiver` goes out of scope, after the lock.
  }
}

void libpavo::on_existing_media(const user_media_t* list, unsigned count) {
  for (unsigned i = 0; i < count; ++i)
    if (list[i].mask & media_kind_audio)
      add_audio_publisher(list[i].user_id);
  media_list_t media{count, const_cast<user_media_t*>(list)};
  observer_->on_media_event(pavo_event_existing_media, &media);
}

void libpavo::on_class_stopped() {
  stop_all_media();
}

void libpavo::on_kicked() {
  disconnect_procedure();
}

void libpavo::add_audio_publisher(uint32_t user_id) {
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(audio_mutex_);
    for (uint32_t id : audio_publishers_)
      if (id == user_id)
        return;
    first = audio_publishers_.empty();
    audio_publishers_.push_back(user_id);
  }
  if (first) {
    // One mixed stream serves the whole room: subscribe once, for the first publisher.
    uint8_t payload[8];
    wirebytes::put_be32(payload, user_id);
    wirebytes::put_be32(payload + 4, media_kind_audio);
    send_msg(msg_subscribe, payload, sizeof payload);
  }
}

bool libpavo::remove_audio_publisher(uint32_t user_id) {
  std::unique_ptr<media_receiver> receiver;
  {
    std::lock_guard<std::mutex> lock(audio_mutex_);
    bool found = false;
    for (auto it = audio_publishers_.begin(); it != audio_publishers_.end(); ++it) {
      if (*it == user_id) {
        audio_publishers_.erase(it);
        found = true;
        break;
      }
    }
    if (!found)
      return false;
    if (audio_publishers_.empty())
      receiver = std::move(audio_recv_);
  }
  return true;
}

void libpavo::stop_all_media() {
  std::map<uint32_t, std::unique_ptr<user_media_ctrl>> users;
  {
    std::lock_guard<std::mutex> lock(users_mutex_);
    users.swap(users_);
  }
  users.clear();
  std::unique_ptr<media_receiver> audio;
  {
    std::lock_guard<std::mutex> lock(audio_mutex_);
    audio = std::move(audio_recv_);
    audio_publishers_.clear();
  }
  audio.reset();
  std::lock_guard<std::mutex> lock(media_mutex_);
  if (local_) {
    local_->stop(media_kind_audio);
    local_->stop(media_kind_video);
    local_->stop(media_kind_screen);
  }
}
