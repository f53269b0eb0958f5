#include "local_media.h"

#include "woblog/woblog.h"

local_media::local_media(uint32_t own_id, media_factory& factory, sendmsg2ui* ui)
    : own_id_(own_id), factory_(factory), ui_(ui) {}

local_media::~local_media() {
  stop(media_kind_audio);
  stop(media_kind_video);
  stop(media_kind_screen);
}

void local_media::set_video_capture(int width, int height, int fps, int start_kbps) {
  width_ = width;
  height_ = height;
  fps_ = fps;
  start_kbps_ = start_kbps;
}

void local_media::set_audio_param(int channels, int sample_rate) {
  channels_ = channels;
  sample_rate_ = sample_rate;
}

uint32_t local_media::kinds() const {
  uint32_t kinds = 0;
  {
    std::lock_guard<std::mutex> lock(audio_mutex_);
    if (audio_)
      kinds |= media_kind_audio;
  }
  std::lock_guard<std::mutex> lock(video_mutex_);
  for (const auto& sender : video_)
    kinds |= sender.first;
  return kinds;
}

int local_media::start(const char* ip, uint16_t port, int kind, int max_kbps, int min_kbps,
                       share_source_t share_source) {
  if (kind == media_kind_audio) {
    std::lock_guard<std::mutex> lock(audio_mutex_);
    if (audio_)
      return 0;
    std::unique_ptr<audio_ctrl> sender =
        factory_.create_audio_sender(channels_, sample_rate_, microphone_index_);
    if (!sender || sender->start(ip, port, own_id_) != 0) {
      qn::log("audio sender did not start");
      return -1;
    }
    audio_ = std::move(sender);
    return 0;
  }
  if (kind != media_kind_video && kind != media_kind_screen)
    return -1;
  if (video_sender(kind))
    return 0;
  std::shared_ptr<video_ctrl> sender = kind == media_kind_video
                                           ? factory_.create_camera_sender(ui_, camera_index_)
                                           : factory_.create_screen_sender(ui_);
  if (!sender)
    return -1;
  if (kind == media_kind_screen)
    sender->set_source(share_source.source, share_source.live);
  sender->set_capture_param(width_, height_, fps_, start_kbps_);
  if (sender->start(ip, port, own_id_, max_kbps, min_kbps) != 0) {
    qn::log("video sender of kind %d did not start", kind);
    sender->stop();
    return -1;
  }
  std::lock_guard<std::mutex> lock(video_mutex_);
  video_[static_cast<uint32_t>(kind)] = std::move(sender);
  return 0;
}

bool local_media::stop(int kind) {
  if (kind == media_kind_audio) {
    std::unique_ptr<audio_ctrl> sender;
    {
      std::lock_guard<std::mutex> lock(audio_mutex_);
      sender = std::move(audio_);
    }
    if (!sender)
      return false;
    sender->stop();
    return true;
  }
  std::shared_ptr<video_ctrl> sender;
  {
    std::lock_guard<std::mutex> lock(video_mutex_);
    auto it = video_.find(static_cast<uint32_t>(kind));
    if (it == video_.end())
      return false;
    sender = std::move(it->second);
    video_.erase(it);
  }
  sender->stop();
  return true;
}

std::shared_ptr<video_ctrl> local_media::video_sender(uint32_t kind) const {
  std::lock_guard<std::mutex> lock(video_mutex_);
  auto it = video_.find(kind);
  return it == video_.end() ? nullptr : it->second;
}

void local_media::retransmit(uint32_t kind, const uint16_t* seqs, unsigned count) {
  if (auto sender = video_sender(kind))
    sender->retransmit(seqs, count);
}

void local_media::bandwidth_feedback(uint32_t kind, uint32_t value) {
  if (kind == media_kind_audio)
    return;
  if (auto sender = video_sender(kind))
    sender->bandwidth_feedback(value);
}

void local_media::quality_level(uint32_t kind, uint32_t level) {
  if (kind == media_kind_audio)
    return;
  if (auto sender = video_sender(kind))
    sender->quality_level(level);
}

int local_media::set_share_source(share_source_t source) {
  auto sender = video_sender(media_kind_screen);
  if (!sender)
    return -1;
  sender->set_source(source.source, source.live);
  return 0;
}

int local_media::record_source(const share_source_t* source) {
  auto sender = video_sender(media_kind_screen);
  if (!sender)
    return -1;
  if (source)
    sender->set_source(source->source, source->live);
  else
    sender->grabber_state(2);  // re-create the grabber
  return 0;
}

int local_media::pause_grab() {
  auto sender = video_sender(media_kind_screen);
  if (!sender)
    return -1;
  sender->grabber_state(3);  // drop the grabber; ticks repeat the last frame
  return 0;
}
