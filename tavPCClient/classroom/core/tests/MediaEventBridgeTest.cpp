// The media library's callbacks arrive on its threads; the bridge hands copies
// to the GUI thread.
#include "MediaEventBridge.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <cstring>
#include <thread>

#include "FakeLibpavo.h"
#include "TestSupport.h"

namespace {

using testsupport::waitUntil;

// Runs f on a thread of its own, as the library would, and waits for it.
template <typename F>
void onLibraryThread(F f) {
  std::thread(f).join();
}

TEST(MediaEventBridgeTest, CallbacksArriveQueuedWithCopiedData) {
  MediaEventBridge bridge;
  QObject receiver;
  QByteArray peerText;
  MediaUserList users;
  QList<quint32> netErrors;
  QObject::connect(&bridge, &MediaEventBridge::_p2p_msg, &receiver,
                   [&](quint32, QByteArray data) { peerText = data; }, Qt::QueuedConnection);
  QObject::connect(&bridge, &MediaEventBridge::signal_get_user_list, &receiver,
                   [&](MediaUserList list) { users = list; }, Qt::QueuedConnection);
  QObject::connect(&bridge, &MediaEventBridge::_user_net_error, &receiver,
                   [&](quint32 id) { netErrors.append(id); }, Qt::QueuedConnection);

  onLibraryThread([&] {
    // The library reuses its buffers as soon as a callback returns.
    char text[] = "{\"typeId\":\"30\"}";
    bridge.p2p_msg(10003, text, static_cast<unsigned>(std::strlen(text)));
    std::memset(text, 'x', sizeof text - 1);
    user_media_t list[2] = {{10003, 3}, {10004, 1}};
    user_list_t event{list, 2};
    bridge.on_media_event(pavo_event_user_list, &event);
    list[0].user_id = 0;
    bridge.user_net_state(10004, 0);
    bridge.user_net_state(10005, 1);
    // Events without their data are dropped, not read.
    bridge.on_media_event(pavo_event_user_list, nullptr);
    bridge.on_media_event(pavo_event_media_open, nullptr);
    bridge.on_media_event(999, nullptr);
  });
  ASSERT_TRUE(waitUntil([&] { return !peerText.isEmpty() && !users.isEmpty() && !netErrors.isEmpty(); }));
  EXPECT_EQ(peerText, QByteArray("{\"typeId\":\"30\"}"));
  ASSERT_EQ(users.size(), 2);
  EXPECT_EQ(users[0].userId, 10003u);
  EXPECT_EQ(users[0].mask, 3u);
  EXPECT_EQ(netErrors, (QList<quint32>{10005}));
}

TEST(MediaEventBridgeTest, FramesWaitInTheQueueAndGoBackToTheLibrary) {
  MediaEventBridge bridge;
  FakeLibpavo library;
  bridge.setLibrary(&library);
  QSignalSpy arrived(&bridge, &MediaEventBridge::signal_videoData_arrived);
  uint8_t pixels[12][12] = {};
  onLibraryThread([&] {
    for (auto& buffer : pixels) {
      video_frame_t frame{2, 2, buffer, 10003, media_kind_video};
      bridge.on_media_event(pavo_event_video_frame, &frame);
    }
  });
  EXPECT_EQ(arrived.count(), 12);
  // At most ten wait: the two oldest went back at once.
  EXPECT_EQ(bridge.frames().size(), VideoFrameQueue::kMaxFrames);
  EXPECT_EQ(library.freed, (QList<uint8_t*>{pixels[0], pixels[1]}));
  bridge.frames().clear();
  EXPECT_EQ(library.freed.size(), 12);
}

}  // namespace

namespace {

struct FixedLayer : MarkLayerSource {
  void fillMarkBitmap(uint8_t* data, unsigned capacity, int& width, int& height,
                      int& len) override {
    if (capacity < 8)
      return;
    std::memset(data, 0xAB, 8);
    width = 2;
    height = 1;
    len = 8;
  }
};

// The drawing layer is answered on the library's thread, by the source set
// now, and not at all once none is set.
TEST(MediaEventBridgeTest, TheDrawingLayerIsAnsweredOnTheLibrarysThread) {
  MediaEventBridge bridge;
  FixedLayer layer;
  std::vector<uint8_t> buffer(16, 0);
  mark_bitmap_t request{buffer.data(), unsigned(buffer.size()), 0, 0, -1};
  onLibraryThread([&] { bridge.on_media_event(pavo_event_mark_bitmap, &request); });
  EXPECT_EQ(request.len, 0) << "nobody draws yet";

  bridge.setMarkLayerSource(&layer);
  onLibraryThread([&] { bridge.on_media_event(pavo_event_mark_bitmap, &request); });
  EXPECT_EQ(request.len, 8);
  EXPECT_EQ(request.width, 2);
  EXPECT_EQ(buffer[7], 0xAB);
  EXPECT_EQ(buffer[8], 0);

  bridge.setMarkLayerSource(nullptr);
  request.len = -1;
  onLibraryThread([&] { bridge.on_media_event(pavo_event_mark_bitmap, &request); });
  EXPECT_EQ(request.len, 0);
  onLibraryThread([&] { bridge.on_media_event(pavo_event_mark_bitmap, nullptr); });
}

}  // namespace
