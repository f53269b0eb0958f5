// Frames handed over by the media library, waiting for the GUI thread. Each
// record owns a library buffer until it is given back through the release
// function, so the queue is bounded: a stalled GUI must not hold the library's
// whole buffer pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

struct VideoFrameRecord {
  int width = 0;
  int height = 0;
  uint8_t* pixels = nullptr;
  uint32_t userId = 0;
  int kind = 0;  // media kind: 1 camera, 4 teaching-tool screen, 32 document camera
};

class VideoFrameQueue {
public:
  using ReleaseFn = std::function<void(uint8_t*)>;
  static constexpr std::size_t kMaxFrames = 10;

  explicit VideoFrameQueue(ReleaseFn release);
  ~VideoFrameQueue();
  VideoFrameQueue(const VideoFrameQueue&) = delete;
  VideoFrameQueue& operator=(const VideoFrameQueue&) = delete;

  // Queues a frame; beyond kMaxFrames the oldest is released at once. A record
  // without pixels is dropped (false): there is nothing to show or give back.
  bool push(const VideoFrameRecord& record);
  // Pops the oldest frame; the caller now owns its buffer and gives it back
  // with release() when done.
  std::optional<VideoFrameRecord> take();
  // Gives a taken frame's buffer back to the library.
  void release(const VideoFrameRecord& record) const;
  std::size_t size() const;
  // Releases every queued frame.
  void clear();

private:
  ReleaseFn release_;
  mutable std::mutex mutex_;
  std::deque<VideoFrameRecord> frames_;
};
