// The window's own parts on their own: the header, the stage and the start of
// the class.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "ClassControl.h"
#include "ClassStage.h"
#include "Classroom.h"
#include "ClassroomComponent.h"
#include "ClassroomHeader.h"
#include "ClassroomRig.h"
#include "CoursewarePlayback.h"
#include "Prompt.h"
#include "RoomMessage.h"
#include "SharedArea.h"
#include "Whiteboard.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;

QLabel* label(QWidget& w, const char* name) {
  return w.findChild<QLabel*>(QLatin1String(name));
}
QPushButton* button(QWidget& w, const char* name) {
  return w.findChild<QPushButton*>(QLatin1String(name));
}

TEST(ClassroomHeaderTest, ControlsFollowTheRoleAndTheClass) {
  ClassroomRig rig;
  rig.session.setOwnRole(RoomContext::kTeacher, false);
  ClassroomHeader header(QStringLiteral("<b>数学</b>"), QStringLiteral("王老师"), rig.session);
  header.show();
  EXPECT_EQ(label(header, "classroomTitle")->textFormat(), Qt::PlainText);
  EXPECT_EQ(label(header, "classState")->text(), QStringLiteral("未上课"));
  EXPECT_TRUE(button(header, "btnStartClass")->isVisible());
  EXPECT_FALSE(button(header, "btnStopClass")->isVisible());

  rig.session.classStarted(kTeacher);
  EXPECT_EQ(label(header, "classState")->text(), QStringLiteral("上课中"));
  EXPECT_FALSE(button(header, "btnStartClass")->isVisible());
  EXPECT_TRUE(button(header, "btnStopClass")->isVisible());
  // Somebody else's class: no stop button for this teacher.
  rig.session.setClassingUser(10002);
  EXPECT_FALSE(button(header, "btnStopClass")->isVisible());

  rig.room.isOwner = false;
  rig.session.setOwnRole(RoomContext::kStudent, false);
  EXPECT_FALSE(header.findChild<QWidget*>(QStringLiteral("teacherControls"))->isVisible());
  EXPECT_TRUE(button(header, "btnLeave")->isVisible());
  // The share-content menu is the teaching tool's: a student holding it chooses too.
  auto* menu = header.findChild<QWidget*>(QStringLiteral("toolSelector"));
  EXPECT_FALSE(menu->isVisible());
  rig.session.setToolHolder(rig.session.ownUserId());
  EXPECT_TRUE(menu->isVisible());
  rig.session.setToolHolder(10004);
  EXPECT_FALSE(menu->isVisible());
}

// Dragging moves the window by its header only; the teaching area stays put
// under the pointer (it will be drawn on).
TEST(ClassroomHeaderTest, TheWindowIsDraggedByTheHeaderOnly) {
  ClassroomRig rig;
  QWidget window;
  window.resize(800, 600);
  auto* header =
      new ClassroomHeader(QStringLiteral("数学"), QStringLiteral("王老师"), rig.session, &window);
  auto* stage = new ClassStage(rig.session, nullptr, &window);
  header->setGeometry(0, 0, 800, 52);
  stage->setGeometry(0, 60, 800, 500);
  window.move(100, 100);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto drag = [](QWidget* on) {
    QWidget* target = on->childAt(400, 200 < on->height() ? 200 : 10);
    if (!target)
      target = on;
    const QPoint start = target->mapFromGlobal(on->mapToGlobal(QPoint(400, 10)));
    QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, start);
    QMouseEvent move(QEvent::MouseMove, start + QPoint(50, 30), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, start + QPoint(50, 30));
  };
  const QPoint before = window.pos();
  drag(stage);
  EXPECT_EQ(window.pos(), before);
  drag(header);
  EXPECT_NE(window.pos(), before);
}

TEST(ClassStageTest, WaitingTextBoardAndToolView) {
  ClassroomRig student(kStudent, kTeacher);
  student.session.setOwnRole(RoomContext::kStudent, false);
  ClassStage stage(student.session, nullptr);
  EXPECT_EQ(label(stage, "stageWaiting")->text(), QStringLiteral("等待老师上课"));

  ClassroomRig teacher;
  teacher.session.setOwnRole(RoomContext::kTeacher, false);
  ClassStage own(teacher.session, nullptr);
  // The teacher is not told to wait for the teacher.
  EXPECT_NE(label(own, "stageWaiting")->text(), QStringLiteral("等待老师上课"));
  EXPECT_FALSE(label(own, "stageWaiting")->text().isEmpty());
  EXPECT_FALSE(own.showsPicture());

  teacher.session.classStarted(kTeacher);
  EXPECT_TRUE(own.showsPicture());
  teacher.session.setScreenSharer(kStudent);
  teacher.session.mediaOpened(kStudent, media_kind_screen);
  EXPECT_TRUE(own.showsToolView());
  teacher.session.mediaClosed(kStudent, media_kind_screen);
  EXPECT_FALSE(own.showsToolView());
  // Entering a running class: the share is announced before the sharer is known.
  teacher.session.mediaOpened(10001, media_kind_screen);
  EXPECT_FALSE(own.showsToolView());
  teacher.session.setClassingUser(10001);
  EXPECT_TRUE(own.showsToolView());
  teacher.session.classStopped();
  EXPECT_FALSE(own.showsToolView());
  EXPECT_FALSE(own.showsPicture());
}

// A feature that may refuse the start (a lesson plan uploading) and hears the stop.
struct Feature : ClassroomComponent {
  QString refusal;
  int stops = 0;
  QString startRefusal() const override { return refusal; }
  void classStopping() override { ++stops; }
};

TEST(ClassControlTest, StartingTheClassOpensTheOwnMediaAndAsksTheNewcomersState) {
  ClassroomRig rig;
  rig.session.setOwnRole(RoomContext::kTeacher, false);
  ClassroomHeader header(QStringLiteral("数学"), QStringLiteral("王老师"), rig.session);
  Feature feature;
  QList<ClassroomComponent*> components{&feature};
  ClassControl control(rig.context, header, components);

  // Not connected yet.
  control.btnStartClass_clicked();
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("未与教室建立连接"));
  rig.connectMedia();
  feature.refusal = QStringLiteral("上传教案时不能开课！");
  control.btnStartClass_clicked();
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("上传教案时不能开课！"));
  EXPECT_EQ(rig.media.startClassCalls, 0);
  feature.refusal.clear();
  control.btnStartClass_clicked();
  EXPECT_EQ(rig.media.startClassCalls, 1);
  EXPECT_FALSE(button(header, "btnStartClass")->isEnabled());
  // Refused by the media server: the button comes back.
  control.slot_start_class_ack(-1);
  EXPECT_TRUE(button(header, "btnStartClass")->isEnabled());

  control.slot_start_class_ack(0);
  EXPECT_TRUE(rig.session.isClassStarter(kTeacher));
  // The second half of a double click on 上课 lands on 下课, which took its
  // place: it stops nothing. A click of its own asks first.
  QSignalSpy stops(&header, &ClassroomHeader::stopClassClicked);
  QTest::mouseDClick(button(header, "btnStopClass"), Qt::LeftButton);
  EXPECT_TRUE(stops.isEmpty());
  QTest::mouseClick(button(header, "btnStopClass"), Qt::LeftButton);
  EXPECT_EQ(stops.size(), 1);
  EXPECT_EQ(rig.media.callsOf(media_cmd_open_media),
            (QVector<MediaCall>{{5, kTeacher, 1}, {5, kTeacher, 2}}));
  auto* teaching = control.findChild<QTimer*>(QStringLiteral("teachingTimer"));
  ASSERT_NE(teaching, nullptr);
  EXPECT_TRUE(teaching->isActive());
  EXPECT_EQ(teaching->interval(), 30000);

  control.slot_ss_stop_class(kTeacher);
  EXPECT_FALSE(teaching->isActive());
  EXPECT_FALSE(rig.session.classInProgress());
}

TEST(ClassControlTest, ANewcomerAsksTheStarterForTheShareAndTheBoard) {
  ClassroomRig rig(kStudent, kTeacher);
  ClassroomHeader header(QStringLiteral("数学"), QStringLiteral("王老师"), rig.session);
  QList<ClassroomComponent*> none;
  ClassControl control(rig.context, header, none);
  rig.connectMedia();
  control.__get_classing_user_ack(0, kTeacher);  // no class known to run: nothing
  EXPECT_TRUE(rig.channel.sent.isEmpty());
  control.slot_get_class_state_ack(1);
  EXPECT_TRUE(rig.session.classInProgress());
  control.__get_classing_user_ack(0, kTeacher);
  EXPECT_TRUE(rig.session.isClassStarter(kTeacher));
  ASSERT_EQ(rig.peer.sent.size(), 2);  // both travel on the peer path, to the starter
  EXPECT_EQ(parsed(rig.peer.sent[0].data).value("typeId").toString(), QStringLiteral("71"));
  EXPECT_EQ(parsed(rig.peer.sent[1].data).value("typeId").toInt(), ANNO_SYNC_REQUEST);
  EXPECT_EQ(rig.peer.sent[1].target, kTeacher);
}

}  // namespace

// The whole window goes without servers: every part still finds the context
// while it is deleted, and the context goes after them.
TEST(ClassroomWindowTest, PartsGoBeforeTheContextTheyReach) {
  ClassroomEntry entry = ClassroomRig::makeEntry(kTeacher, kTeacher);
  auto* window = new Classroom(entry);
  QPointer<ClassroomContext> context = window->findChild<ClassroomContext*>();
  ASSERT_FALSE(context.isNull());
  int parts = 0;
  int withContext = 0;
  for (QObject* part : std::initializer_list<QObject*>{
           window->findChild<ClassControl*>(), window->findChild<SharedArea*>(),
           window->findChild<Whiteboard*>(), window->findChild<CoursewarePlayback*>()}) {
    ASSERT_TRUE(part);
    ++parts;
    QObject::connect(part, &QObject::destroyed, [&] { withContext += !context.isNull(); });
  }
  delete window;
  EXPECT_EQ(withContext, parts);
  EXPECT_TRUE(context.isNull());
}
