#include "playout_queue.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace audira_internal {

unsigned shorten_frame(int16_t* pcm, unsigned frames, unsigned min_cut, unsigned max_cut) {
  constexpr unsigned at = 120;       // where the splice starts: 2.5 ms into the frame
  constexpr unsigned overlap = 120;  // cross-fade length
  if (min_cut == 0 || max_cut < min_cut || frames < at + min_cut + overlap)
    return frames;
  max_cut = std::min(max_cut, frames - at - overlap);
  // The cut that best matches what follows it (a whole number of pitch periods for voice or
  // a tone), so the splice keeps the waveform's phase.
  auto mono = [&](unsigned frame) {
    return static_cast<float>(pcm[frame * playout_channels]) +
           static_cast<float>(pcm[frame * playout_channels + 1]);
  };
  unsigned best = min_cut;
  float best_score = -2.0f;
  for (unsigned cut = min_cut; cut <= max_cut; ++cut) {
    float ab = 0, aa = 0, bb = 0;
    for (unsigned i = 0; i < overlap; i += 2) {
      const float a = mono(at + i), b = mono(at + cut + i);
      ab += a * b;
      aa += a * a;
      bb += b * b;
    }
    const float score = (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : (aa == bb ? 1.0f : 0.0f);
    if (score > best_score + 1e-4f) {
      best_score = score;
      best = cut;
    }
  }
  for (unsigned i = 0; i < overlap; ++i) {
    const float in = static_cast<float>(i + 1) / static_cast<float>(overlap + 1);
    for (unsigned c = 0; c < playout_channels; ++c) {
      const size_t a = static_cast<size_t>(at + i) * playout_channels + c;
      const size_t b = static_cast<size_t>(at + best + i) * playout_channels + c;
      pcm[a] = static_cast<int16_t>(static_cast<float>(pcm[a]) * (1.0f - in) +
                                    static_cast<float>(pcm[b]) * in);
    }
  }
  const size_t from = static_cast<size_t>(at + best + overlap) * playout_channels;
  const size_t to = static_cast<size_t>(at + overlap) * playout_channels;
  std::copy(pcm + from, pcm + static_cast<size_t>(frames) * playout_channels, pcm + to);
  return frames - best;
}

void playout_queue::push(const int16_t* pcm, unsigned frames) {
  if (!pcm || frames == 0)
    return;
  std::vector<int16_t> block(pcm, pcm + static_cast<size_t>(frames) * playout_channels);
  std::lock_guard<std::mutex> lock(mutex_);
  stats_.pushed += frames;
  const unsigned queued = static_cast<unsigned>(samples_.size() / playout_channels);
  unsigned length = frames;
  if (queued + frames > limits_.drop_above) {
    // A burst: fall straight back to the target, oldest sound first.
    const unsigned excess = queued + frames - limits_.target;
    const unsigned from_queue = std::min(excess, queued);
    drop_oldest(from_queue);
    const unsigned from_block = std::min(excess - from_queue, frames);
    if (from_block > 0) {
      block.erase(block.begin(),
                  block.begin() + static_cast<std::ptrdiff_t>(from_block) * playout_channels);
      length -= from_block;
      stats_.dropped += from_block;
    }
  } else if (queued + frames > limits_.compress_above + limits_.min_cut) {
    // Somewhat late: leave out a few milliseconds of this frame where it is not heard.
    const unsigned excess = queued + frames - limits_.compress_above;
    const unsigned shorter =
        shorten_frame(block.data(), frames, limits_.min_cut, std::min(excess, limits_.max_cut));
    stats_.compressed += frames - shorter;
    length = shorter;
  }
  samples_.insert(samples_.end(), block.begin(),
                  block.begin() + static_cast<std::ptrdiff_t>(length) * playout_channels);
}

unsigned playout_queue::pull(int16_t* out, unsigned frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  const unsigned queued = static_cast<unsigned>(samples_.size() / playout_channels);
  if (waiting_) {
    if (queued < limits_.resume_at || queued == 0)
      return 0;
    waiting_ = false;
  }
  const unsigned n = std::min(queued, frames);
  const size_t count = static_cast<size_t>(n) * playout_channels;
  std::copy(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(count), out);
  samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(count));
  if (n < frames) {
    // Ran dry: build up a little again before playing, rather than stutter frame by frame.
    ++stats_.underruns;
    waiting_ = true;
  }
  return n;
}

unsigned playout_queue::queued_frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<unsigned>(samples_.size() / playout_channels);
}

playout_stats playout_queue::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

void playout_queue::drop_oldest(unsigned frames) {
  samples_.erase(samples_.begin(),
                 samples_.begin() + static_cast<std::ptrdiff_t>(frames) * playout_channels);
  stats_.dropped += frames;
}

}  // namespace audira_internal
