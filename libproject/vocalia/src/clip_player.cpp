#include "clip_player.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include <opus.h>

#include "woblog/woblog.h"

namespace vocalia_internal {
namespace {

// Longest frame Opus decodes: 120 ms at 48 kHz.
constexpr int max_decoded_samples = clip_rate / 1000 * 120;
// velmedia's playout format.
constexpr unsigned playout_channels = 2;

bool read_file(const char* path, std::vector<uint8_t>* data) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    qn::log("vocalia: cannot open %s: %s", path, std::strerror(errno));
    return false;
  }
  uint8_t chunk[64 * 1024];
  bool ok = true;
  while (data->size() < max_clip_bytes) {
    const std::size_t want = std::min(sizeof chunk, max_clip_bytes - data->size());
    const std::size_t got = std::fread(chunk, 1, want, file);
    data->insert(data->end(), chunk, chunk + got);
    if (got < want) {
      ok = !std::ferror(file);
      break;
    }
  }
  std::fclose(file);
  if (!ok)
    qn::log("vocalia: reading %s failed", path);
  return ok;
}

}  // namespace

clip_player::clip_player(notify_progress2ui* observer, std::vector<uint8_t> data, clip_index index)
    : observer_(observer),
      data_(std::move(data)),
      index_(std::move(index)),
      // A clip whose recording never ended says 0; its frames tell the length then.
      total_(index_.header_seconds != 0 ? index_.header_seconds
                                        : seconds_for_frames(index_.frames.size())),
      pcm_(static_cast<std::size_t>(max_decoded_samples)) {}

std::unique_ptr<clip_player> clip_player::open(notify_progress2ui* observer, const char* path,
                                               int output) {
  if (!path)
    return nullptr;
  std::vector<uint8_t> data;
  if (!read_file(path, &data))
    return nullptr;
  clip_index index;
  if (!parse_clip(data.data(), data.size(), &index)) {
    qn::log("vocalia: %s is no voice clip", path);
    return nullptr;
  }
  if (!index.complete)
    qn::log("vocalia: %s is cut or damaged after %zu frames", path, index.frames.size());
  std::unique_ptr<clip_player> player(new (std::nothrow)
                                          clip_player(observer, std::move(data), std::move(index)));
  if (!player)
    return nullptr;
  int error = OPUS_OK;
  player->decoder_ = opus_decoder_create(static_cast<opus_int32>(clip_rate), 1, &error);
  if (!player->decoder_ || error != OPUS_OK) {
    qn::log("vocalia: no Opus decoder: %s", opus_strerror(error));
    return nullptr;
  }
  player->device_.reset(velaudio_device::create());
  if (!player->device_) {
    qn::log("vocalia: no audio device layer");
    return nullptr;
  }
  player->device_->set_transport(player.get());
  if (player->device_->select_speaker(output < 0 ? INT_MAX : output) != 0 ||
      player->device_->start_playout() != 0) {
    qn::log("vocalia: speaker %d does not play", output);
    return nullptr;
  }
  try {
    player->reporter_ = std::thread(&clip_player::report_loop, player.get());
  } catch (const std::exception&) {
    return nullptr;
  }
  return player;
}

clip_player::~clip_player() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (reporter_.joinable())
    reporter_.join();  // no observer call after this
  if (device_) {
    device_->stop_playout();
    device_->set_transport(nullptr);
    device_.reset();
  }
  if (decoder_)
    opus_decoder_destroy(decoder_);
}

int clip_player::set_play_state(int state) {
  if (state != 1 && state != 2)
    return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_)
    return -1;
  paused_ = state == 2;
  return 0;
}

int clip_player::seek_percent(int percent) {
  percent = std::clamp(percent, 0, 100);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_)
      return -1;
    next_frame_ = index_.frames.size() * static_cast<std::size_t>(percent) / 100;
    pcm_frames_ = pcm_at_ = 0;
    // The frames before the new position were not decoded; start from a clean state.
    opus_decoder_ctl(decoder_, OPUS_RESET_STATE);
  }
  wake_.notify_all();
  return 0;
}

int clip_player::need_more_play_data(unsigned sample_count, unsigned bytes_per_sample,
                                     unsigned channels, unsigned sample_rate, void* samples,
                                     unsigned* samples_out) {
  unsigned written = 0;
  bool wake = false;
  if (samples && bytes_per_sample == sizeof(int16_t) && channels == playout_channels &&
      sample_rate == clip_rate) {
    auto* out = static_cast<int16_t*>(samples);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!paused_ && !ended_) {
      const unsigned second = current_second();
      while (written < sample_count) {
        if (pcm_at_ == pcm_frames_) {
          if (next_frame_ >= index_.frames.size())
            break;
          decode_next();
          continue;
        }
        const std::size_t n = std::min<std::size_t>(sample_count - written, pcm_frames_ - pcm_at_);
        for (std::size_t i = 0; i < n; ++i)
          out[2 * (written + i)] = out[2 * (written + i) + 1] = pcm_[pcm_at_ + i];
        written += static_cast<unsigned>(n);
        pcm_at_ += n;
      }
      // Ended only when asked for sound after the last was handed over, so the device has
      // played all of it before the reporter closes it.
      if (written == 0) {
        ended_ = true;
        wake = true;
      } else {
        wake = current_second() != second;
      }
    }
  }
  if (samples_out)
    *samples_out = written;
  if (wake)
    wake_.notify_all();
  return 0;
}

void clip_player::decode_next() {
  const clip_frame& frame = index_.frames[next_frame_++];
  const int decoded = opus_decode(decoder_, data_.data() + frame.offset, frame.length, pcm_.data(),
                                  max_decoded_samples, 0);
  pcm_at_ = 0;
  if (decoded > 0) {
    pcm_frames_ = static_cast<std::size_t>(decoded);
    return;
  }
  // A damaged frame plays as 20 ms of silence, so the clip keeps its timing.
  if (!decode_error_logged_) {
    qn::log("vocalia: frame %zu does not decode: %s", next_frame_ - 1, opus_strerror(decoded));
    decode_error_logged_ = true;
  }
  std::fill(pcm_.begin(), pcm_.begin() + frame_samples, int16_t{0});
  pcm_frames_ = frame_samples;
}

unsigned clip_player::current_second() const {
  // Frames handed to the speaker whole; the one being played counts when it is done.
  const std::size_t played = next_frame_ - (pcm_at_ < pcm_frames_ ? 1 : 0);
  return std::min(static_cast<unsigned>(played / frames_per_second), total_);
}

void clip_player::report_loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  unsigned reported = 0;
  for (;;) {
    // Reaching the last second is left to the end's report, so it comes once.
    wake_.wait(lock, [&] {
      const unsigned second = current_second();
      return quit_ || ended_ || (second != reported && second < total_);
    });
    if (quit_)
      return;
    if (ended_) {
      lock.unlock();
      // The speaker closes first: once the observer hears of the end, no sound follows.
      device_->stop_playout();
      if (observer_)
        observer_->play_progress(total_, total_);
      return;
    }
    reported = current_second();
    lock.unlock();
    if (observer_)
      observer_->play_progress(reported, total_);
    lock.lock();
  }
}

}  // namespace vocalia_internal

libvocalia_play* libvocalia_play::create(notify_progress2ui* observer, const char* path,
                                         int outputDevice) {
  return vocalia_internal::clip_player::open(observer, path, outputDevice).release();
}
