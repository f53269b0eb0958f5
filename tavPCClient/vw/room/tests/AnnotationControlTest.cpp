// The board-writing right between the teacher and the students: requests and
// their answers with the delivery acknowledgements, taking the right over,
// and ending annotation.
#include <gtest/gtest.h>

#include <QPushButton>

#include "AnnotationAppItem.h"
#include "AnnotationAppList.h"
#include "DrawingToolbar.h"
#include "WhiteboardRig.h"

namespace {

constexpr quint32 kStudent = 20002;
constexpr quint32 kOther = 20003;

QByteArray text(const QJsonObject& msg) {
  return QJsonDocument(msg).toJson(QJsonDocument::Compact);
}

QJsonObject own(quint32 id, int typeId, int content) {
  return QJsonObject{{KEY_TYPE_ID, typeId}, {KEY_SEND_USER_ID, double(id)}, {KEY_CONTENT, content}};
}

TEST(AnnotationControlTest, AStudentAppliesWithdrawsAndIsRefused) {
  WhiteboardRig t(kStudent);
  QPushButton* button = t.anno().requestButton();
  ASSERT_TRUE(button->isVisibleTo(&t.rig.window) || !button->isHidden());
  t.takeSent();

  button->click();
  auto sent = t.takeSent();
  ASSERT_EQ(sent.size(), 1);
  EXPECT_EQ(sent[0].target, WhiteboardRig::kTeacher);
  EXPECT_EQ(sent[0].msg, own(kStudent, ANNO_APPLY, 1));
  EXPECT_EQ(button->text(), "申请板书\n(发送中...)");
  EXPECT_FALSE(button->isEnabled());
  // Clicking again while it is on its way does nothing.
  button->click();
  EXPECT_TRUE(t.takeSent().isEmpty());

  t.anno().slot_p2p_msg_ack(WhiteboardRig::kTeacher, text(sent[0].msg));
  EXPECT_EQ(t.rig.room.annoState, 1);
  EXPECT_EQ(button->text(), "取消申请");
  EXPECT_TRUE(button->isEnabled());

  // The teacher refuses: a toast, and the request is withdrawn by itself.
  const QString toast = t.toastOf([&] {
    t.receive(WhiteboardRig::kTeacher, own(WhiteboardRig::kTeacher, ANNO_APPLY_REPLY, 2));
  });
  EXPECT_EQ(toast, "老师已拒绝了您的板书申请！");
  sent = t.takeSent();
  ASSERT_EQ(sent.size(), 1);
  EXPECT_EQ(sent[0].msg, own(kStudent, ANNO_APPLY, 2));
  EXPECT_EQ(button->text(), "取消申请\n(发送中...)");
  t.anno().slot_p2p_msg_ack(WhiteboardRig::kTeacher, text(sent[0].msg));
  EXPECT_EQ(t.rig.room.annoState, 0);
  EXPECT_EQ(button->text(), "申请板书");
  // Somebody else's acknowledgement is not ours.
  t.anno().slot_p2p_msg_ack(WhiteboardRig::kTeacher, text(own(kOther, ANNO_APPLY, 1)));
  EXPECT_EQ(t.rig.room.annoState, 0);
}

TEST(AnnotationControlTest, AnApprovedStudentWritesUntilTheTeacherTakesTheRightBack) {
  WhiteboardRig t(kStudent);
  t.rig.session.setAnnotating(kOther);  // another student writes
  t.takeSent();
  const QString agreed = t.toastOf([&] {
    t.receive(WhiteboardRig::kTeacher, own(WhiteboardRig::kTeacher, ANNO_APPLY_REPLY, 1));
  });
  EXPECT_EQ(agreed, "老师已同意您板书！");
  EXPECT_EQ(t.rig.media.tagCalls, (QList<int64_t>{kOther, 0}));
  const auto sent = t.takeSent();
  ASSERT_EQ(sent.size(), 1);
  EXPECT_EQ(sent[0].target, 0u);
  EXPECT_EQ(sent[0].msg.value(KEY_TYPE_ID).toInt(), ANNO_START);

  t.anno().slot_start_tag_ack(0);
  EXPECT_EQ(t.rig.room.annotatingId, qint64(kStudent));
  EXPECT_EQ(t.rig.room.annoState, 2);
  EXPECT_EQ(t.anno().requestButton()->text(), "退出板书");
  EXPECT_FALSE(t.anno().toolbar()->isHidden());
  EXPECT_FALSE(t.canvas().isHidden());
  EXPECT_TRUE(t.wb().ownsAnnotation());

  // The teacher takes it: the student's toolbar goes, with the toast.
  t.rig.media.tagCalls.clear();
  const QString taken = t.toastOf([&] { t.anno().slot_ss_start_tag(WhiteboardRig::kTeacher); });
  EXPECT_EQ(taken, "老师收回了您的板书权限！");
  EXPECT_TRUE(t.anno().toolbar()->isHidden());
  EXPECT_EQ(t.rig.room.annotatingId, qint64(WhiteboardRig::kTeacher));
  EXPECT_EQ(t.anno().requestButton()->text(), "申请板书");
  EXPECT_FALSE(t.wb().ownsAnnotation());
  // The stop the student sent on the way is refused (the right moved on) and changes nothing.
  t.anno().slot_stop_tag_ack(1);
  EXPECT_EQ(t.rig.room.annotatingId, qint64(WhiteboardRig::kTeacher));
}

TEST(AnnotationControlTest, TheTeacherListsEachRequestOnceAndApprovingStopsTheWriterFirst) {
  WhiteboardRig t;
  t.receive(kStudent, own(kStudent, ANNO_APPLY, 1));
  t.receive(kStudent, own(kStudent, ANNO_APPLY, 1));
  t.receive(kOther, own(kOther, ANNO_APPLY, 1));
  ASSERT_EQ(t.anno().requestList()->count(), 2);
  t.receive(kOther, own(kOther, ANNO_APPLY, 2));  // withdrawn
  EXPECT_EQ(t.anno().requestList()->count(), 1);

  t.anno().slot_ss_start_tag(kOther);  // another student writes meanwhile
  t.rig.media.tagCalls.clear();
  t.takeSent();
  vw::AnnotationAppItem* item = t.anno().requestList()->item(kStudent);
  ASSERT_TRUE(item);
  emit item->sgnReplyApply(item, 1);
  EXPECT_EQ(t.rig.media.tagCalls, (QList<int64_t>{kOther}));
  const auto sent = t.takeSent();
  ASSERT_EQ(sent.size(), 1);
  EXPECT_EQ(sent[0].target, kStudent);
  EXPECT_EQ(sent[0].msg, own(WhiteboardRig::kTeacher, ANNO_APPLY_REPLY, 1));
  // Delivered: the request leaves the list.
  t.anno().slot_p2p_msg_ack(kStudent, text(sent[0].msg));
  EXPECT_EQ(t.anno().requestList()->count(), 0);
  EXPECT_TRUE(t.anno().requestList()->isHidden());
}

TEST(AnnotationControlTest, TheTeacherTakesTheRightWithoutAToastAndEndsAnnotationForAll) {
  WhiteboardRig t;
  t.anno().slot_ss_start_tag(kStudent);
  EXPECT_FALSE(t.anno().stopButton()->isHidden());
  t.rig.media.tagCalls.clear();
  const QString toast = t.toastOf([&] { t.anno().annotationToggle()->click(); });
  EXPECT_TRUE(toast.isEmpty());
  EXPECT_EQ(t.rig.media.tagCalls, (QList<int64_t>{kStudent, 0}));
  t.anno().slot_start_tag_ack(0);
  EXPECT_TRUE(t.wb().ownsAnnotation());
  EXPECT_FALSE(t.anno().toolbar()->isHidden());

  // A student taking over tells the teacher.
  const QString over = t.toastOf([&] { t.anno().slot_ss_start_tag(kOther); });
  EXPECT_EQ(over, "学生接管了您的板书权限！");
  EXPECT_FALSE(t.anno().annotationToggle()->isChecked());
  EXPECT_TRUE(t.anno().toolbar()->isHidden());

  t.canvas().setShape(2, 2, 255, 0, 0, 255);
  t.canvas().beginShape({0.1, 0.1});
  t.canvas().continueShape({0.2, 0.3});
  t.canvas().finishShape();
  t.takeSent();
  t.anno().stopButton()->click();
  const auto sent = t.takeSent();
  ASSERT_EQ(sent.size(), 1);
  EXPECT_EQ(sent[0].msg.value(KEY_TYPE_ID).toInt(), ANNO_STOP);
  EXPECT_TRUE(t.canvas().shapeList().isEmpty());
  EXPECT_TRUE(t.canvas().isHidden());
  EXPECT_TRUE(t.anno().stopButton()->isHidden());
  EXPECT_EQ(t.rig.room.annoState, 0);
}

// The media server ends the old holder's right before it hands it on: that end
// already tells the holder it was taken over, unless the holder gave it back.
TEST(AnnotationControlTest, AnEndOfTheOwnRightNobodyAskedForIsATakeOver) {
  WhiteboardRig student(kStudent);
  student.anno().slot_start_tag_ack(0);
  ASSERT_TRUE(student.wb().ownsAnnotation());
  EXPECT_EQ(student.toastOf([&] { student.anno().slot_ss_stop_tag(kStudent); }),
            "老师收回了您的板书权限！");
  EXPECT_TRUE(student.anno().toolbar()->isHidden());
  EXPECT_EQ(student.anno().requestButton()->text(), "申请板书");

  student.anno().slot_start_tag_ack(0);
  student.anno().requestButton()->click();  // "退出板书": given back
  EXPECT_EQ(student.rig.media.tagCalls.last(), int64_t(kStudent));
  EXPECT_TRUE(student.toastOf([&] { student.anno().slot_ss_stop_tag(kStudent); }).isEmpty());
}

TEST(AnnotationControlTest, WritingAsAnAssistantEndsWithTheRight) {
  WhiteboardRig t(kStudent);
  t.rig.session.setAssistant(true);
  t.anno().annotationToggle()->click();
  ASSERT_EQ(t.rig.room.annotatingId, qint64(kStudent));
  t.rig.media.tagCalls.clear();
  t.rig.session.setAssistant(false);
  EXPECT_EQ(t.rig.media.tagCalls, (QList<int64_t>{kStudent}));
  EXPECT_FALSE(t.anno().annotationToggle()->isChecked());
}

TEST(AnnotationControlTest, ANewcomerLearnsWhoWrites) {
  WhiteboardRig t(kStudent);
  t.anno().slot_get_tag_users_ack(0, {kOther});
  EXPECT_EQ(t.rig.room.annotatingId, qint64(kOther));
  EXPECT_EQ(t.rig.room.annoState, 2);
  EXPECT_FALSE(t.canvas().isHidden());
  // Outside a class the answer is not acted on.
  t.rig.session.classStopped();
  t.anno().slot_get_tag_users_ack(0, {kStudent});
  EXPECT_NE(t.rig.room.annotatingId, qint64(kStudent));
}

}  // namespace
