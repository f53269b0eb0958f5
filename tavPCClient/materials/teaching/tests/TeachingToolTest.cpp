#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

#include "ClassroomRig.h"
#include "Prompt.h"
#include "SelSharedWndDlg.h"
#include "TeachingTool.h"
#include "shareApplicationItem.h"
#include "shareApplicationList.h"

namespace {

constexpr quint32 kTeacher = 10001, kStudent = 10003, kOther = 10004;

struct ToolRig {
  explicit ToolRig(quint32 own) : rig(own, kTeacher) {
    rig.add(kTeacher, "老师", "王老师");
    rig.add(kStudent, "学生", "张小明");
    rig.add(kOther, "学生", "刘小红");
    rig.session.setOwnRole(own == kTeacher ? RoomContext::kTeacher : RoomContext::kStudent, false);
    rig.connectMedia();
    rig.session.classStarted(kTeacher);
    tool = std::make_unique<TeachingTool>(rig.context);
  }
  QString toast(const std::function<void()>& step) {
    Prompt::instance()->setText(QString());
    step();
    return Prompt::instance()->text();
  }
  QString text() const { return tool->applyButton()->text(); }

  ClassroomRig rig;
  std::unique_ptr<TeachingTool> tool;
};

TEST(TeachingTool, TheStudentsButtonGoesThroughItsStates) {
  ToolRig t(kStudent);
  QSignalSpy ended(t.tool.get(), &TeachingTool::ownToolEnded);
  EXPECT_EQ(t.text(), QStringLiteral("申请教具"));
  EXPECT_FALSE(t.tool->applyButton()->isHidden());
  EXPECT_TRUE(t.tool->requestListButton()->isHidden());

  // Asking, then withdrawing.
  t.tool->applyButton()->click();
  EXPECT_EQ(t.text(), QStringLiteral("申请教具\n(发送中...)"));
  EXPECT_EQ(t.toast([&] { t.tool->application_share_ack(0); }),
            QStringLiteral("申请教具成功！请等待老师批准！"));
  EXPECT_EQ(t.text(), QStringLiteral("取消申请"));
  EXPECT_TRUE(t.tool->applyButton()->isChecked());
  t.tool->applyButton()->click();
  EXPECT_EQ(t.text(), QStringLiteral("取消申请\n(发送中...)"));
  t.tool->cancel_application_ack(0);
  EXPECT_EQ(t.text(), QStringLiteral("申请教具"));

  // Refused.
  t.tool->applyButton()->click();
  t.tool->application_share_ack(0);
  EXPECT_EQ(t.toast([&] { t.tool->ss_reply_share(kStudent, 2); }),
            QStringLiteral("老师拒绝了你的教具请求！"));
  EXPECT_EQ(t.text(), QStringLiteral("申请教具"));
  EXPECT_EQ(t.rig.room.toolHolderId, -1);

  // Approved: the tool is this student's until another gets it.
  t.tool->applyButton()->click();
  t.tool->application_share_ack(0);
  EXPECT_EQ(t.toast([&] { t.tool->ss_reply_share(kStudent, 1); }),
            QStringLiteral("老师同意了你的教具请求！"));
  EXPECT_EQ(t.text(), QStringLiteral("结束教具"));
  EXPECT_EQ(t.tool->applyButton()->toolTip(), QStringLiteral("学生只能结束自己的教具"));
  EXPECT_EQ(t.rig.room.toolHolderId, kStudent);
  t.rig.session.setScreenSharer(kStudent);
  t.tool->ss_reply_share(kOther, 1);
  EXPECT_EQ(t.text(), QStringLiteral("申请教具"));
  EXPECT_EQ(t.rig.room.toolHolderId, kOther);
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(t.rig.media.shareCalls.value(0), qint64(kStudent)) << "its share ends with the tool";
  EXPECT_EQ(t.rig.media.toolCalls, (QStringList{"apply", "cancel", "apply", "apply"}));

  // Ending it: the share stops, the media server is told, the menu goes.
  t.tool->applyButton()->click();
  t.tool->application_share_ack(0);
  t.tool->ss_reply_share(kStudent, 1);
  t.rig.session.setScreenSharer(kStudent);
  t.tool->applyButton()->click();
  EXPECT_EQ(t.text(), QStringLiteral("申请教具"));
  EXPECT_EQ(t.rig.room.toolHolderId, -1);
  EXPECT_EQ(t.rig.media.toolCalls.last(), QStringLiteral("take %1").arg(kStudent));
  EXPECT_EQ(ended.count(), 2);
}

TEST(TeachingTool, TheTeacherAnswersRequestsAndAnAnswerNotConfirmedCanBeGivenAgain) {
  ToolRig t(kTeacher);
  EXPECT_TRUE(t.tool->applyButton()->isHidden());
  EXPECT_FALSE(t.tool->requestListButton()->isHidden());
  shareApplicationList* list = t.tool->requestList();
  t.tool->ss_application_share(kStudent);
  t.tool->ss_application_share(kOther);
  t.tool->ss_application_share(kOther);
  EXPECT_EQ(list->count(), 2);
  EXPECT_EQ(t.tool->requestListButton()->text(), QStringLiteral("教具申请(2)"));
  t.tool->ss_cancel_application(kOther);
  EXPECT_EQ(list->count(), 1);

  shareApplicationItem* item = list->item(kStudent);
  ASSERT_TRUE(item);
  item->findChild<QPushButton*>("btnAgree")->click();
  EXPECT_EQ(t.rig.media.toolCalls, QStringList{QStringLiteral("reply %1 1").arg(kStudent)});
  EXPECT_FALSE(item->findChild<QPushButton*>("btnAgree")->isEnabled());
  // No confirmation from the media server: the answer times out and may be given again.
  EXPECT_EQ(t.toast([&] { QMetaObject::invokeMethod(item, "slot_sendApprove_timeOut"); }),
            QStringLiteral("网络不给力，请检查网络后重试！"));
  EXPECT_TRUE(item->findChild<QPushButton*>("btnAgree")->isEnabled());
  item->findChild<QPushButton*>("btnRefuse")->click();
  t.tool->reply_share_ack(kStudent, 2);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(list->count(), 0);
  EXPECT_EQ(t.tool->requestListButton()->text(), QStringLiteral("教具申请"));

  // Another teacher-side member's answer takes the request off this list too.
  t.tool->ss_application_share(kOther);
  t.tool->ss_reply_share(kOther, 1);
  EXPECT_EQ(list->count(), 0);
  EXPECT_EQ(t.rig.room.toolHolderId, kOther);
}

TEST(SelSharedWndDlg, ListsOtherProgramsAndWantsAChoice) {
  using W = platform::DesktopWindow;
  const std::vector<W> all = {{11, "互动教室", 0, 0, 10, 10, 77},
                              {12, "计算器", 0, 0, 10, 10, 500},
                              {13, "", 0, 0, 10, 10, 501},
                              {14, "手机助手", 0, 0, 10, 10, 77},
                              {15, "Program Manager", 0, 0, 10, 10, 4},
                              {16, "画图", 0, 0, 10, 10, 502}};
  const auto listed = SelSharedWndDlg::shareable(all, 77);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].handle, 12u);
  EXPECT_EQ(listed[1].handle, 16u);

  QString said;
  SelSharedWndDlg dialog(listed, [&](const QString& text) { said = text; });
  dialog.show();
  dialog.slot_btnOk_clicked();
  EXPECT_EQ(said, QStringLiteral("请选择一个应用！"));
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
  dialog.list()->setCurrentRow(1);
  dialog.slot_btnOk_clicked();
  EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
  EXPECT_EQ(dialog.chosen().handle, 16u);
}

}  // namespace
