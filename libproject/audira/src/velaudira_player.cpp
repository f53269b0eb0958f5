#include "velaudira_player.h"

#include <algorithm>
#include <new>

#include <opus.h>

#include "woblog/woblog.h"

namespace audira_internal {

std::unique_ptr<velaudira_player> velaudira_player::open(int speaker_index) {
  std::unique_ptr<velaudira_player> player(new (std::nothrow) velaudira_player());
  if (!player)
    return nullptr;
  int error = OPUS_OK;
  player->decoder_ = opus_decoder_create(static_cast<opus_int32>(playout_rate),
                                         static_cast<int>(playout_channels), &error);
  if (!player->decoder_ || error != OPUS_OK) {
    qn::log("audira: no Opus decoder: %s", opus_strerror(error));
    return nullptr;
  }
  player->pcm_.resize(static_cast<size_t>(max_frame) * playout_channels);
  player->device_.reset(velaudio_device::create());
  if (!player->device_) {
    qn::log("audira: no audio device layer");
    return nullptr;
  }
  player->device_->set_transport(player.get());
  if (player->device_->select_speaker(speaker_index < 0 ? 0 : speaker_index) != 0 ||
      player->device_->start_playout() != 0) {
    qn::log("audira: speaker %d does not play", speaker_index);
    player->device_->set_transport(nullptr);
    return nullptr;
  }
  return player;
}

velaudira_player::~velaudira_player() {
  if (device_) {
    device_->stop_playout();
    device_->set_transport(nullptr);
    device_.reset();
  }
  if (decoder_)
    opus_decoder_destroy(decoder_);
}

int velaudira_player::play(const common_data_t* frame) {
  if (!frame || !frame->data || frame->length == 0)
    return -1;
  std::lock_guard<std::mutex> lock(decoder_mutex_);
  const int frames = opus_decode(decoder_, frame->data, static_cast<opus_int32>(frame->length),
                                 pcm_.data(), static_cast<int>(max_frame), 0);
  if (frames <= 0) {
    qn::log("audira: frame of %u bytes refused: %s", frame->length,
            opus_strerror(frames < 0 ? frames : OPUS_INVALID_PACKET));
    return -1;
  }
  last_frames_ = static_cast<unsigned>(frames);
  queue_.push(pcm_.data(), last_frames_);
  return 0;
}

int velaudira_player::conceal(unsigned count) {
  std::lock_guard<std::mutex> lock(decoder_mutex_);
  if (last_frames_ == 0)
    return -1;
  for (unsigned i = 0; i < std::min(count, max_conceal); ++i) {
    const int frames =
        opus_decode(decoder_, nullptr, 0, pcm_.data(), static_cast<int>(last_frames_), 0);
    if (frames <= 0)
      return -1;
    queue_.push(pcm_.data(), static_cast<unsigned>(frames));
  }
  return 0;
}

int velaudira_player::need_more_play_data(unsigned sample_count, unsigned bytes_per_sample,
                                          unsigned channels, unsigned sample_rate, void* samples,
                                          unsigned* samples_out) {
  unsigned written = 0;
  if (samples && bytes_per_sample == sizeof(int16_t) && channels == playout_channels &&
      sample_rate == playout_rate)
    written = queue_.pull(static_cast<int16_t*>(samples), sample_count);
  if (samples_out)
    *samples_out = written;
  std::lock_guard<std::mutex> lock(tap_mutex_);
  if (tap_ && written > 0)
    tap_(static_cast<const int16_t*>(samples), written);
  return 0;
}

void velaudira_player::set_output_tap(output_tap tap) {
  std::lock_guard<std::mutex> lock(tap_mutex_);
  tap_ = std::move(tap);
}

}  // namespace audira_internal

velaudira* velaudira::create(int speaker_index) {
  return audira_internal::velaudira_player::open(speaker_index).release();
}
