#include "VideoFrameQueue.h"

#include <utility>

VideoFrameQueue::VideoFrameQueue(ReleaseFn release) : release_(std::move(release)) {}

VideoFrameQueue::~VideoFrameQueue() {
  clear();
}

bool VideoFrameQueue::push(const VideoFrameRecord& record) {
  if (!record.pixels)
    return false;
  uint8_t* evicted = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(record);
    if (frames_.size() > kMaxFrames) {
      evicted = frames_.front().pixels;
      frames_.pop_front();
    }
  }
  // Outside the lock: the release call goes back into the library, which may
  // hold its own locks while it pushes the next frame.
  if (evicted && release_)
    release_(evicted);
  return true;
}

std::optional<VideoFrameRecord> VideoFrameQueue::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (frames_.empty())
    return std::nullopt;
  VideoFrameRecord record = frames_.front();
  frames_.pop_front();
  return record;
}

void VideoFrameQueue::release(const VideoFrameRecord& record) const {
  if (record.pixels && release_)
    release_(record.pixels);
}

std::size_t VideoFrameQueue::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_.size();
}

void VideoFrameQueue::clear() {
  std::deque<VideoFrameRecord> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held.swap(frames_);
  }
  for (const VideoFrameRecord& record : held)
    release(record);
}
