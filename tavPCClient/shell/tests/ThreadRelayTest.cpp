// Work posted from a library's thread runs in the receiver's thread, and never
// once the receiver is gone or the relay is closed.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <memory>
#include <thread>

#include "TestSupport.h"
#include "ThreadRelay.h"

using testsupport::waitUntil;

TEST(ThreadRelay, RunsInTheReceiversThreadAndNeverAfterItOrTheRelayWent) {
  QObject receiver;
  ThreadRelay relay(&receiver);
  QThread* ranIn = nullptr;
  int value = 0;
  std::thread library([&] {
    const int copied = 42;
    relay.post([&, copied] {
      ranIn = QThread::currentThread();
      value = copied;
    });
  });
  library.join();
  EXPECT_EQ(value, 0) << "runs only when the receiver's thread gets to it";
  ASSERT_TRUE(waitUntil([&] { return value == 42; }));
  EXPECT_EQ(ranIn, receiver.thread());

  // Posted, then closed before it ran: dropped, and so is what comes later.
  int late = 0;
  relay.post([&] { ++late; });
  relay.close();
  relay.post([&] { ++late; });
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(late, 0);
  EXPECT_FALSE(relay.isOpen());

  // A receiver deleted with work on its way: the work never runs, and a relay
  // that outlives it posts nothing more.
  auto* gone = new QObject;
  auto outliving = std::make_unique<ThreadRelay>(gone);
  std::atomic<int> ran{0};
  outliving->post([&] { ++ran; });
  delete gone;
  std::thread after([&] { outliving->post([&] { ++ran; }); });
  after.join();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(ran.load(), 0);
  EXPECT_FALSE(outliving->isOpen());
}
