#include "audio_timeline.h"

#include <algorithm>

namespace centra_impl {

namespace {

int64_t frames_of_ms(int64_t ms) {
  return ms * audio_timeline::kRate / 1000;
}

// Pieces this close to where the track stands are joined on as they are: the small
// unevenness of arrivals must not cut sound into pieces of silence.
constexpr int64_t kSlackFrames = audio_timeline::kRate * 60 / 1000;

}  // namespace

void audio_timeline::add(int64_t arrival_ms, const int16_t* samples, size_t frames) {
  if (!samples || frames == 0)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_ + frames > kMaxPendingFrames)
    return;
  piece p;
  p.at = frames_of_ms(std::max<int64_t>(0, arrival_ms - kSoundDelayMs));
  p.samples.assign(samples, samples + frames * kChannels);
  pending_ += frames;
  pieces_.push_back(std::move(p));
}

void audio_timeline::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  pieces_.clear();
  pending_ = 0;
}

size_t audio_timeline::take_until(int64_t now_ms, std::vector<int16_t>* out) {
  const int64_t target = frames_of_ms(now_ms - kWriteBehindMs);
  size_t appended = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  auto silence = [&](int64_t frames) {
    out->insert(out->end(), static_cast<size_t>(frames) * kChannels, 0);
    written_ += frames;
    appended += static_cast<size_t>(frames);
  };
  while (written_ < target) {
    if (pieces_.empty()) {
      silence(target - written_);
      break;
    }
    piece& p = pieces_.front();
    const int64_t frames = static_cast<int64_t>(p.samples.size() / kChannels);
    if (p.at > written_ + kSlackFrames) {
      // Nothing until this piece: silence up to it (or up to the target).
      silence(std::min(p.at, target) - written_);
      continue;
    }
    // A piece that belonged earlier than the track stands loses what is too late.
    const int64_t late = std::max<int64_t>(0, written_ - kSlackFrames - p.at);
    if (late >= frames) {
      pending_ -= static_cast<size_t>(frames);
      pieces_.pop_front();
      continue;
    }
    const int64_t take = std::min(frames - late, target - written_);
    const auto begin = p.samples.begin() + late * kChannels;
    out->insert(out->end(), begin, begin + take * kChannels);
    written_ += take;
    appended += static_cast<size_t>(take);
    if (late + take == frames) {
      pending_ -= static_cast<size_t>(frames);
      pieces_.pop_front();
    } else {
      // The rest waits for the next turn, placed right after what was taken.
      p.samples.erase(p.samples.begin(), begin + take * kChannels);
      pending_ -= static_cast<size_t>(late + take);
      p.at = written_;
    }
  }
  return appended;
}

}  // namespace centra_impl
