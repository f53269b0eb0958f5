#include <thread>

#include <gtest/gtest.h>

#include "velthread/velthread.h"

namespace {

TEST(Velsemaphore, CountsPostsAndTimesOutWhenEmpty) {
  velsemaphore sem;
  EXPECT_EQ(sem.wait(0), 1);
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(sem.post(), 0);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(sem.wait(10), 0) << "wait " << i;
  EXPECT_EQ(sem.wait(10), 1);
  EXPECT_EQ(sem.wait(0), 1);
}

TEST(Velsemaphore, InitialCount) {
  velsemaphore sem(2);
  EXPECT_EQ(sem.wait(), 0);
  EXPECT_EQ(sem.wait(0), 0);
  EXPECT_EQ(sem.wait(0), 1);
}

TEST(Velsemaphore, PostFromAnotherThreadWakesBothKindsOfWait) {
  velsemaphore request, reply;
  int unlimited = -9, limited = -9;
  std::thread waiter([&] {
    unlimited = reply.wait();
    request.post();
    limited = reply.wait(30000);
  });
  reply.post();
  ASSERT_EQ(request.wait(30000), 0);
  reply.post();
  waiter.join();
  EXPECT_EQ(unlimited, 0);
  EXPECT_EQ(limited, 0);
}

TEST(Velsemaphore, EveryPostReleasesExactlyOneWaiter) {
  constexpr int kWaiters = 4;
  velsemaphore sem, done;
  std::thread waiters[kWaiters];
  for (auto& t : waiters)
    t = std::thread([&] {
      if (sem.wait(30000) == 0)
        done.post();
    });
  for (int i = 0; i < kWaiters; ++i)
    sem.post();
  for (int i = 0; i < kWaiters; ++i)
    EXPECT_EQ(done.wait(30000), 0);
  for (auto& t : waiters)
    t.join();
  EXPECT_EQ(sem.wait(0), 1);  // no post was counted twice or lost
  EXPECT_EQ(done.wait(0), 1);
}

}  // namespace
