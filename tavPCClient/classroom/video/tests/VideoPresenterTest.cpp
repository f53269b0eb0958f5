// Streams subscribed as tiles come and go, tiles filled with who they show,
// frames painted into their user's window and always given back.
#include "VideoPresenter.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <vector>

#include "BoardCanvas.h"
#include "ClassroomRig.h"
#include "MainVideoBox.h"
#include "PlayWnd.h"
#include "SharedAreaView.h"
#include "VideoFrameQueue.h"
#include "VideoGroup.h"
#include "VideoRenderWidget.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kParent = 10008;

struct VideoPresenterTest : ::testing::Test {
  ClassroomRig rig;
  QList<uint8_t*> released;
  VideoFrameQueue frames{[this](uint8_t* p) { released.append(p); }};
  MainVideoBox main;
  VideoGroup students{rig.session.studentLineup()};
  VideoGroup others{rig.session.otherLineup()};
  VideoRenderWidget toolView;
  VideoRenderWidget stageMain;
  VideoPresenter presenter{rig.context, frames,
                           VideoPresenter::Views{&main, &students, &others, &toolView, &stageMain}};

  void SetUp() override {
    rig.add(kTeacher, "老师", "王老师");
    rig.session.setOwnRole(RoomContext::kTeacher, false);
    rig.connectMedia();
    main.resize(360, 270);
    students.resize(800, 150);
  }
  QVector<MediaCall> calls(unsigned cmd) const { return rig.media.callsOf(cmd); }
  // Hands a frame over as the library does and lets the presenter take it.
  void deliver(quint32 userId, int kind, std::vector<uint8_t>& pixels, int w = 4, int h = 3) {
    frames.push(VideoFrameRecord{w, h, pixels.data(), userId, kind});
    presenter.slot_videoData_arrived();
  }
};

TEST_F(VideoPresenterTest, StreamsAreSubscribedAsTheirTilesComeAndGo) {
  for (quint32 id = 10003; id < 10008; ++id)
    rig.add(id, "学生");
  for (quint32 id = 10003; id < 10008; ++id)
    rig.session.mediaOpened(id, media_kind_video);
  rig.session.mediaOpened(10003, media_kind_audio);
  // Every announced video is subscribed; sound never is.
  EXPECT_EQ(calls(media_cmd_subscribe).size(), 5);
  // The fifth waits; when a shown student closes, it is shown and subscribed again.
  rig.media.calls.clear();
  rig.session.mediaClosed(10004, media_kind_video);
  EXPECT_EQ(calls(media_cmd_subscribe), (QVector<MediaCall>{{17, 10007, 1}}));
  EXPECT_NE(students.tile(10007), nullptr);
  // Scrolling swaps who is received.
  rig.session.mediaOpened(10004, media_kind_video);
  rig.media.calls.clear();
  rig.session.studentLineup().scrollNext();
  EXPECT_EQ(calls(media_cmd_unsubscribe), (QVector<MediaCall>{{18, 10003, 1}}));
  EXPECT_EQ(calls(media_cmd_subscribe), (QVector<MediaCall>{{17, 10004, 1}}));
}

// A member whose record arrives after its tile (or arrives again on a second
// visit) has its name and role on the tile.
TEST_F(VideoPresenterTest, TilesShowWhoTheyShowAlsoWhenTheRecordComesLater) {
  rig.session.mediaOpened(kParent, media_kind_video);
  PlayWnd* tile = others.tile(kParent);
  ASSERT_NE(tile, nullptr);
  EXPECT_EQ(tile->roleBadgeText(), QString());
  rig.add(kParent, "家长", "张爸爸");
  tile = others.tile(kParent);
  ASSERT_NE(tile, nullptr);
  EXPECT_EQ(tile->userName(), QStringLiteral("张爸爸"));
  EXPECT_EQ(tile->roleBadgeText(), QStringLiteral("家长"));
  rig.session.mediaOpened(kParent, media_kind_audio);
  EXPECT_TRUE(tile->isAudioOn());
  // The owner's video has the main window, with its name.
  rig.session.mediaOpened(kTeacher, media_kind_video);
  EXPECT_EQ(main.name(), QStringLiteral("王老师"));
}

TEST_F(VideoPresenterTest, FramesArePaintedWhileTheClassRunsAndAlwaysGivenBack) {
  rig.session.mediaOpened(kTeacher, media_kind_video);
  std::vector<uint8_t> pixels(4 * 3 * 3, 200);
  // Before the class: straight back, nothing shown.
  deliver(kTeacher, media_kind_video, pixels);
  EXPECT_TRUE(main.renderWidget()->heldFrame().isNull());
  rig.session.classStarted(kTeacher);
  deliver(kTeacher, media_kind_video, pixels);
  EXPECT_EQ(main.renderWidget()->heldFrame().size(), QSize(4, 3));
  // Nobody's window: returned at once.
  deliver(424242, media_kind_video, pixels);
  // A screen frame only from the current sharer.
  deliver(10003, media_kind_screen, pixels);
  EXPECT_TRUE(toolView.heldFrame().isNull());
  rig.session.setScreenSharer(10003);
  deliver(10003, media_kind_screen, pixels);
  EXPECT_FALSE(toolView.heldFrame().isNull());
  EXPECT_EQ(released.size(), 5);
  EXPECT_EQ(frames.size(), 0u);

  // The class ends: the main window and the tool view are cleared.
  rig.session.mediaOpened(10003, media_kind_screen);
  rig.session.classStopped();
  EXPECT_TRUE(main.renderWidget()->heldFrame().isNull());
  EXPECT_EQ(main.name(), QStringLiteral("老师视频"));
  EXPECT_TRUE(toolView.heldFrame().isNull());
}

TEST_F(VideoPresenterTest, HoverBarsForTeachersAndOnTheOwnTile) {
  rig.add(10003, "学生");
  rig.session.mediaOpened(10003, media_kind_video);
  EXPECT_TRUE(students.tile(10003)->isHoverAllowed());
  rig.room.isOwner = false;
  rig.session.setOwnRole(RoomContext::kStudent, false);
  EXPECT_FALSE(students.tile(10003)->isHoverAllowed());
}

}  // namespace

// Stand-ins for the board and the stage, as the guard on the main video sees them.
struct Board : BoardCanvas {
  void placeCanvas() override {}
  void clearBoard() override {}
  bool canvasShown() const override { return true; }
  bool hasShapes() const override { return shapes; }
  bool shapes = false;
};
struct Stage : SharedAreaView {
  QWidget* sharedArea() const override { return nullptr; }
  QRect pictureRect() const override { return {}; }
  QPixmap shownPixmap() const override { return {}; }
  bool screenShareMode() const override { return screen; }
  bool screen = false;
};

TEST_F(VideoPresenterTest, TheMainVideoGoesLargeOnTheStageAndBackUnlessBoardWritingWouldGo) {
  Board board;
  Stage stage;
  rig.context.provide<BoardCanvas>(&board);
  rig.context.provide<SharedAreaView>(&stage);
  rig.session.mediaOpened(kTeacher, media_kind_video);
  rig.session.classStarted(kTeacher);
  QSignalSpy enlarged(&presenter, &VideoPresenter::mainVideoEnlarged);
  std::vector<uint8_t> pixels(4 * 3 * 3, 200);
  presenter.toggleMainVideo();
  ASSERT_EQ(enlarged.size(), 1);
  EXPECT_TRUE(enlarged.last().at(0).toBool());
  deliver(kTeacher, media_kind_video, pixels);
  EXPECT_EQ(stageMain.heldFrame().size(), QSize(4, 3));
  EXPECT_TRUE(main.renderWidget()->heldFrame().isNull());
  presenter.toggleMainVideo();
  EXPECT_FALSE(enlarged.last().at(0).toBool());
  deliver(kTeacher, media_kind_video, pixels);
  EXPECT_EQ(main.renderWidget()->heldFrame().size(), QSize(4, 3));

  // Sharing the own screen with strokes on it: refused, with the box.
  rig.session.setScreenSharer(kTeacher);
  board.shapes = true;
  stage.screen = true;
  presenter.toggleMainVideo();
  EXPECT_EQ(enlarged.size(), 2);
  EXPECT_EQ(rig.dialogs.informed, QStringList({"板书状态下不能做此操作！"}));
  // Without strokes it goes.
  board.shapes = false;
  presenter.toggleMainVideo();
  EXPECT_EQ(enlarged.size(), 3);
  rig.context.withdraw<BoardCanvas>(&board);
  rig.context.withdraw<SharedAreaView>(&stage);
}
