// Opening and closing members' media with the teacher's rules, and the members
// tab that follows the session.
#include "MediaControl.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>

#include "ClassroomRig.h"
#include "MemberListWidget.h"
#include "MemberPanel.h"
#include "Prompt.h"
#include "TestSupport.h"
#include "UserItem.h"

namespace {

constexpr quint32 kTeacher = 10001;

struct MediaControlTest : ::testing::Test {
  ClassroomRig rig;
  MediaControl control{rig.context};

  void SetUp() override {
    rig.add(kTeacher, "老师");
    for (quint32 id = 10003; id < 10008; ++id)
      rig.add(id, "学生");
    rig.session.setOwnRole(RoomContext::kTeacher, false);
    rig.connectMedia();
  }
  // The toast shown by the next step, or empty.
  QString toastOf(const std::function<void()>& step) {
    Prompt::instance()->setText(QString());
    step();
    return Prompt::instance()->text();
  }
  QVector<MediaCall> opens(int kind) const {
    QVector<MediaCall> found;
    for (const MediaCall& c : rig.media.callsOf(media_cmd_open_media))
      if (c.kind == kind)
        found.append(c);
    return found;
  }
};

TEST_F(MediaControlTest, FifthSoundIsRefusedAndNothingIsAsked) {
  for (quint32 id = 10003; id < 10007; ++id)
    rig.session.mediaOpened(id, media_kind_audio);
  EXPECT_EQ(toastOf([&] { control.onOperateAudio(10007); }),
            QStringLiteral("最多只能打开4路声音！"));
  EXPECT_TRUE(rig.media.calls.isEmpty());
  // Closing one is always possible, and then the fifth may open.
  control.onOperateAudio(10003);
  EXPECT_EQ(rig.media.callsOf(media_cmd_close_media), (QVector<MediaCall>{{6, 10003, 2}}));
  rig.session.mediaClosed(10003, media_kind_audio);
  control.onOperateAudio(10007);
  EXPECT_EQ(opens(media_kind_audio), (QVector<MediaCall>{{5, 10007, 2}}));
}

TEST_F(MediaControlTest, RefusalsAndFailuresEachHaveTheirText) {
  EXPECT_EQ(toastOf([&] { control.onOperateVideo(99); }),
            QStringLiteral("用户已经与教室断开连接！"));
  rig.session.setDevices(10003, 2);  // no camera
  EXPECT_EQ(toastOf([&] { control.onOperateVideo(10003); }),
            QStringLiteral("该用户的摄像头不存在或故障，打开视频失败！"));
  rig.session.setDevices(10004, 1);  // no microphone
  EXPECT_EQ(toastOf([&] { control.onOperateAudio(10004); }),
            QStringLiteral("该用户的麦克风不存在或故障，打开声音失败！"));
  EXPECT_TRUE(rig.media.calls.isEmpty());

  rig.media.result = -1;
  EXPECT_EQ(toastOf([&] { control.onOperateVideo(10005); }), QStringLiteral("打开视频失败！"));
  EXPECT_EQ(toastOf([&] { control.onOperateAudio(10005); }), QStringLiteral("打开声音失败！"));
  rig.session.mediaOpened(10006, media_kind_video);
  rig.session.mediaOpened(10006, media_kind_audio);
  EXPECT_EQ(toastOf([&] { control.onOperateVideo(10006); }), QStringLiteral("关闭视频失败！"));
  EXPECT_EQ(toastOf([&] { control.onOperateAudio(10006); }), QStringLiteral("关闭声音失败！"));

  // Without the media server: video says so, sound only writes a log line.
  rig.media.calls.clear();
  rig.context.setMcuConnected(false);
  EXPECT_EQ(toastOf([&] { control.onOperateVideo(10005); }), QStringLiteral("未与教室建立连接"));
  EXPECT_EQ(toastOf([&] { control.onOperateAudio(10005); }), QString());
  EXPECT_TRUE(rig.media.calls.isEmpty());
}

TEST_F(MediaControlTest, TileOperationsAndTheCameraTimeOut) {
  control.playWnd_Opr(10003, 3);
  EXPECT_EQ(rig.session.giftReceiver(), 10003u);
  EXPECT_EQ(toastOf([&] { control.playWnd_Opr(kTeacher, 3); }),
            QStringLiteral("不可以自己给自己送礼物！"));
  EXPECT_EQ(rig.session.giftReceiver(), 10003u);
  control.playWnd_Opr(10004, 1);
  control.slot_camera_timeout();
  control.playWnd_Opr(424242, 1);  // not a member: nothing
  EXPECT_EQ(rig.media.callsOf(media_cmd_close_media),
            (QVector<MediaCall>{{6, 10004, 1}, {6, kTeacher, 1}}));
}

TEST_F(MediaControlTest, OpenAllSoundOpensOnlyWhatTheLimitLeavesInListOrder) {
  rig.session.mediaOpened(10003, media_kind_audio);
  rig.session.mediaOpened(10004, media_kind_audio);
  rig.session.setDevices(10005, 1);  // no microphone: skipped
  control.openAllAudio({10004, 10005, 10006, 10007, kTeacher});
  EXPECT_EQ(opens(media_kind_audio), (QVector<MediaCall>{{5, 10006, 2}, {5, 10007, 2}}));
  rig.session.mediaOpened(10006, media_kind_audio);
  rig.session.mediaOpened(10007, media_kind_audio);
  EXPECT_EQ(toastOf([&] { control.openAllAudio({kTeacher}); }),
            QStringLiteral("最多只能打开4路声音！"));
  control.closeAllAudio({10003, 10005, 10007});
  EXPECT_EQ(rig.media.callsOf(media_cmd_close_media),
            (QVector<MediaCall>{{6, 10003, 2}, {6, 10007, 2}}));
}

TEST_F(MediaControlTest, MembersTabFollowsTheSessionAndPausesItsButtons) {
  MemberPanel panel(rig.context, control);
  auto* list = panel.findChild<MemberListWidget*>(QStringLiteral("memberList"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count(), 6);
  EXPECT_EQ(list->groupOf(kTeacher), MemberListWidget::Teacher);
  rig.session.mediaOpened(10003, media_kind_video);
  EXPECT_TRUE(list->findUser(10003)->isVideoOn());
  rig.session.userLeft(10003);
  EXPECT_EQ(list->findUser(10003), nullptr);

  // Tick boxes and bulk buttons only with the teacher's rights.
  auto* openAll = panel.findChild<QPushButton*>(QStringLiteral("btnOpenAllVideo"));
  auto* closeAll = panel.findChild<QPushButton*>(QStringLiteral("btnCloseAllVideo"));
  ASSERT_TRUE(openAll && closeAll);
  EXPECT_TRUE(list->isSelectable());
  EXPECT_FALSE(openAll->isHidden());

  for (UserItem* item : list->items())
    item->setChecked(item->userId() == 10005 || item->userId() == 10004);
  auto* pause = panel.findChild<QTimer*>(QStringLiteral("videoButtonPause"));
  ASSERT_NE(pause, nullptr);
  openAll->click();
  EXPECT_EQ(opens(media_kind_video), (QVector<MediaCall>{{5, 10004, 1}, {5, 10005, 1}}));
  EXPECT_FALSE(openAll->isEnabled());
  EXPECT_FALSE(closeAll->isEnabled());
  EXPECT_TRUE(pause->isActive());
  EXPECT_EQ(pause->interval(), 2000);
  EXPECT_EQ(pause->timerType(), Qt::PreciseTimer);  // never early
  ASSERT_TRUE(testsupport::waitUntil([&] { return openAll->isEnabled(); }));
  EXPECT_TRUE(closeAll->isEnabled());

  rig.session.setOwnRole(RoomContext::kStudent, false);
  rig.room.isOwner = false;
  rig.session.setAssistant(false);
  EXPECT_FALSE(list->isSelectable());
  EXPECT_TRUE(openAll->parentWidget()->isHidden());
}

}  // namespace
