#include "VideoFrameQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Records every buffer given back, and frees it as the library would reuse it.
struct ReleaseLog {
  std::mutex mutex;
  std::map<uint8_t*, int> count;
  std::vector<uint8_t*> order;

  VideoFrameQueue::ReleaseFn fn() {
    return [this](uint8_t* p) {
      std::lock_guard<std::mutex> lock(mutex);
      ++count[p];
      order.push_back(p);
    };
  }
};

VideoFrameRecord frame(uint8_t* pixels, uint32_t user = 7) {
  VideoFrameRecord r;
  r.width = 2;
  r.height = 2;
  r.pixels = pixels;
  r.userId = user;
  r.kind = 1;
  return r;
}

TEST(VideoFrameQueueTest, EleventhFrameReleasesTheOldestAndOrderIsKept) {
  uint8_t buffers[12][12] = {};
  ReleaseLog log;
  VideoFrameQueue queue(log.fn());
  for (int i = 0; i < 11; ++i)
    EXPECT_TRUE(queue.push(frame(buffers[i], 100 + i)));
  EXPECT_EQ(queue.size(), VideoFrameQueue::kMaxFrames);
  ASSERT_EQ(log.order.size(), 1u);
  EXPECT_EQ(log.order[0], buffers[0]);

  queue.push(frame(buffers[11]));
  ASSERT_EQ(log.order.size(), 2u);
  EXPECT_EQ(log.order[1], buffers[1]);

  auto first = queue.take();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->pixels, buffers[2]);
  EXPECT_EQ(first->userId, 102u);
  EXPECT_EQ(first->kind, 1);
  EXPECT_EQ(queue.size(), 9u);
  // A taken frame belongs to the caller; the queue does not give it back.
  EXPECT_EQ(log.count.count(buffers[2]), 0u);
}

TEST(VideoFrameQueueTest, ClearAndDestructorReleaseExactlyWhatIsHeld) {
  uint8_t buffers[6][4] = {};
  ReleaseLog log;
  {
    VideoFrameQueue queue(log.fn());
    EXPECT_FALSE(queue.take().has_value());
    EXPECT_FALSE(queue.push(frame(nullptr)));
    EXPECT_EQ(queue.size(), 0u);
    for (int i = 0; i < 3; ++i)
      queue.push(frame(buffers[i]));
    auto taken = queue.take();
    ASSERT_TRUE(taken.has_value());
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(log.order, (std::vector<uint8_t*>{buffers[1], buffers[2]}));

    queue.release(*taken);
    for (int i = 3; i < 6; ++i)
      queue.push(frame(buffers[i]));
  }
  EXPECT_EQ(log.order.size(), 6u);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(log.count[buffers[i]], 1) << i;
  EXPECT_EQ(log.count.count(nullptr), 0u);
}

// Several library threads push while the GUI thread takes: every buffer comes
// back exactly once (through eviction, the taker or the destructor) and the
// queue never holds more than its limit.
TEST(VideoFrameQueueTest, ConcurrentPushersAndTakerReleaseEveryBufferOnce) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2000;
  std::mutex mutex;
  std::map<uint8_t*, int> released;
  std::atomic<std::size_t> maxSeen{0};
  std::vector<uint8_t*> all;
  {
    VideoFrameQueue queue([&](uint8_t* p) {
      std::lock_guard<std::mutex> lock(mutex);
      ++released[p];
      delete[] p;  // a second release would be a double free under ASan
    });
    std::vector<std::vector<uint8_t*>> perThread(kThreads);
    for (auto& buffers : perThread) {
      for (int i = 0; i < kPerThread; ++i)
        buffers.push_back(new uint8_t[12]());
      all.insert(all.end(), buffers.begin(), buffers.end());
    }
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (uint8_t* p : perThread[t]) {
          queue.push(frame(p, static_cast<uint32_t>(t)));
          std::size_t n = queue.size();
          std::size_t prev = maxSeen.load();
          while (n > prev && !maxSeen.compare_exchange_weak(prev, n)) {
          }
        }
        ++done;
      });
    }
    // Whatever is still queued after the pushers stop is left to the destructor.
    while (done.load() < kThreads) {
      if (auto r = queue.take()) {
        EXPECT_EQ(r->width, 2);
        queue.release(*r);
      } else {
        std::this_thread::yield();
      }
    }
    for (auto& th : threads)
      th.join();
    EXPECT_LE(queue.size(), VideoFrameQueue::kMaxFrames);
  }
  EXPECT_LE(maxSeen.load(), VideoFrameQueue::kMaxFrames);
  ASSERT_EQ(released.size(), all.size());
  for (uint8_t* p : all)
    EXPECT_EQ(released[p], 1);
}

}  // namespace
