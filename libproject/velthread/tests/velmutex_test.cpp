#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "velthread/velthread.h"

namespace {

TEST(Velmutex, ExcludesConcurrentHolders) {
  velmutex mutex;
  long counter = 0;  // deliberately plain: only the mutex protects it
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        velmutex_lock lock(mutex);
        if (inside.fetch_add(1) != 0)
          overlap = true;
        ++counter;
        inside.fetch_sub(1);
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_FALSE(overlap.load());
  EXPECT_EQ(counter, long(kThreads) * kRounds);
}

TEST(Velmutex, TryLockFailsWhileAnotherThreadHoldsIt) {
  velmutex mutex;
  velsemaphore held, release;
  std::thread holder([&] {
    velmutex_lock lock(&mutex);
    held.post();
    release.wait(30000);
  });
  ASSERT_EQ(held.wait(30000), 0);
  EXPECT_FALSE(mutex.try_lock());
  release.post();
  holder.join();
  EXPECT_TRUE(mutex.try_lock());
  mutex.unlock();
}

TEST(Velmutex, ScopedLockWithNullIsANoOp) {
  velmutex_lock lock(static_cast<velmutex*>(nullptr));
  SUCCEED();
}

}  // namespace
