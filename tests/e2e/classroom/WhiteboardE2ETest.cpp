// The whiteboard through the real MCU: the teacher's classroom window draws
// with the mouse and its toolbar, a student's board and a member's board who
// comes later end up the same; the right to write goes to the student on
// request and comes back to the teacher.
#include <QMouseEvent>
#include <QToolButton>
#include <QtTest/QTest>

#include "AnnotationAppItem.h"
#include "AnnotationAppList.h"
#include "AnnotationControl.h"
#include "BoardMember.h"
#include "ClassroomFixture.h"
#include "DrawingToolbar.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"

namespace {

constexpr quint32 kTeacher = 10001;
constexpr quint32 kStudent = 10003;
constexpr quint32 kLate = 10004;

// A drag with the left button: press and release through QTest, the moves
// between them delivered to the widget as the window system would.
void drag(QWidget* canvas, QPoint from, QPoint to, int steps = 12) {
  QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, from);
  for (int i = 1; i <= steps; ++i) {
    const QPoint p = from + (to - from) * i / steps + QPoint(0, (i % 3) * 2);
    QMouseEvent move(QEvent::MouseMove, p, canvas->mapToGlobal(p), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
  }
  QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, to);
}

class WhiteboardE2E : public ClassroomTest {
protected:
  std::unique_ptr<BoardMember> join(quint32 id) {
    auto member = std::make_unique<BoardMember>(
        id, RoomContext::kStudent, kTeacher, kRoom, servers_.mcuPort(),
        testsupport::testCredential(id, kRoom, 2), QSize(640, 360));
    member->addMember(kTeacher, RoomContext::kTeacher, QStringLiteral("王老师"));
    return member;
  }
  vw::VWPaintWidget* canvas() { return part<vw::VWPaintWidget>("whiteboardCanvas"); }
  QByteArray teacherDigest() { return vw::VWShapeDigest::digest(canvas()->shapeList()); }
  void tool(const char* name) {
    auto* button = part<QAbstractButton>(name);
    ASSERT_TRUE(button) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
};

TEST_F(WhiteboardE2E, EveryMemberEndsWithTheTeachersBoardAndTheRightTravels) {
  ASSERT_TRUE(enter("teacher"));
  ASSERT_TRUE(connected());
  part<QPushButton>("btnStartClass")->click();
  ASSERT_TRUE(waitUntil([&] { return RoomContext::current().classInProgress; }));

  auto student = join(kStudent);
  ASSERT_TRUE(
      waitUntil([&] { return student->connected() && student->session().classInProgress(); }));
  // The student learns who runs the class, asks for the board and hears there is none.
  ASSERT_TRUE(waitUntil([&] { return student->session().isClassStarter(kTeacher); }));

  // The teacher takes the right: its toolbar shows, the student knows who writes.
  auto* toggle = part<QPushButton>("btnAnnotation");
  ASSERT_TRUE(toggle && toggle->isVisible());
  toggle->click();
  ASSERT_TRUE(waitUntil([&] { return RoomContext::current().annotatingId == kTeacher; }));
  auto* toolbar = part<vw::DrawingToolbar>("drawingToolbar");
  ASSERT_TRUE(waitUntil([&] { return toolbar->isVisible() && canvas()->isVisible(); }));
  ASSERT_TRUE(waitUntil([&] { return student->session().room().annotatingId == kTeacher; }));

  // Every tool, a colour and a width, undo and clear, with the mouse.
  const QSize size = canvas()->size();
  auto at = [&](double x, double y) {
    return QPoint(int(size.width() * x), int(size.height() * y));
  };
  drag(canvas(), at(0.1, 0.1), at(0.4, 0.3));  // pen, red, 2
  tool("btnLine");
  drag(canvas(), at(0.2, 0.6), at(0.7, 0.5));
  tool("btnGreen");
  tool("btnRectangle");
  drag(canvas(), at(0.5, 0.1), at(0.9, 0.4));
  tool("btnLineWidth3");
  tool("btnOval");
  drag(canvas(), at(0.3, 0.4), at(0.6, 0.9));
  tool("btnBlue");
  tool("btnArrow");
  drag(canvas(), at(0.8, 0.8), at(0.6, 0.6));
  tool("btnEraser");
  drag(canvas(), at(0.15, 0.15), at(0.35, 0.25));
  tool("btnPen");
  drag(canvas(), at(0.05, 0.9), at(0.3, 0.95));
  tool("btnRevoke");  // the last stroke goes again
  ASSERT_EQ(canvas()->shapeList().size(), 6);
  ASSERT_TRUE(waitUntil([&] { return student->digest() == teacherDigest(); }))
      << vw::VWShapeDigest::canonicalText(canvas()->shapeList()).toStdString() << "---\n"
      << vw::VWShapeDigest::canonicalText(student->canvas().shapeList()).toStdString();

  // Clearing everybody's board is asked first; cancelled, nothing goes.
  QString asked;
  answerNextBox(false, &asked);
  tool("btnBrush");
  EXPECT_EQ(asked, QStringLiteral("清空后所有人的白板内容都将被擦除且无法恢复，确定要清空吗？"));
  EXPECT_EQ(canvas()->shapeList().size(), 6);
  answerNextBox(true);
  tool("btnBrush");
  ASSERT_TRUE(waitUntil([&] { return student->canvas().shapeList().isEmpty(); }));
  tool("btnYellow");
  tool("btnLine");
  drag(canvas(), at(0.1, 0.5), at(0.9, 0.5));
  tool("btnPen");
  drag(canvas(), at(0.2, 0.2), at(0.3, 0.8), 40);
  ASSERT_TRUE(waitUntil([&] { return student->digest() == teacherDigest(); }));

  // A member who comes later gets the same board from the teacher.
  auto late = join(kLate);
  ASSERT_TRUE(waitUntil([&] { return late->digest() == teacherDigest(); }))
      << late->canvas().shapeList().size() << " shapes on the newcomer";
  EXPECT_EQ(late->canvas().shapeList().size(), 2);
  EXPECT_EQ(late->session().room().annotatingId, qint64(kTeacher));

  // The student asks, the teacher approves from the request list.
  QPushButton* request = student->annotation().requestButton();
  request->click();
  ASSERT_TRUE(waitUntil([&] { return student->session().room().annoState == 1; }));
  EXPECT_EQ(request->text(), QStringLiteral("取消申请"));
  auto* requests = part<vw::AnnotationAppList>("annotationAppList");
  ASSERT_TRUE(waitUntil([&] { return requests->item(kStudent) != nullptr; }));
  auto* agree = requests->item(kStudent)->findChild<QPushButton*>("btnAgree");
  ASSERT_TRUE(agree);
  agree->click();
  ASSERT_TRUE(waitUntil([&] { return student->whiteboard().ownsAnnotation(); }));
  ASSERT_TRUE(waitUntil([&] { return RoomContext::current().annotatingId == kStudent; }));
  EXPECT_EQ(request->text(), QStringLiteral("退出板书"));
  EXPECT_FALSE(student->annotation().toolbar()->isHidden());
  ASSERT_TRUE(waitUntil([&] { return requests->count() == 0; }));
  EXPECT_TRUE(toolbar->isHidden());
  EXPECT_FALSE(toggle->isChecked());

  // The student draws; the teacher and the late member see it.
  drag(&student->canvas(), {100, 100}, {300, 200});
  ASSERT_TRUE(waitUntil([&] { return teacherDigest() == student->digest(); }));
  ASSERT_TRUE(waitUntil([&] { return late->digest() == student->digest(); }));
  EXPECT_EQ(canvas()->shapeList().size(), 3);

  // The teacher takes the right back: the student's toolbar goes, with the toast.
  Prompt::instance()->setText(QString());
  toggle->click();
  ASSERT_TRUE(waitUntil([&] { return student->session().room().annotatingId == kTeacher; }));
  ASSERT_TRUE(waitUntil([&] { return student->annotation().toolbar()->isHidden(); }));
  EXPECT_EQ(Prompt::instance()->text(), QStringLiteral("老师收回了您的板书权限！"));
  EXPECT_EQ(request->text(), QStringLiteral("申请板书"));
  EXPECT_FALSE(student->whiteboard().ownsAnnotation());
  ASSERT_TRUE(waitUntil(
      [&] { return RoomContext::current().annotatingId == kTeacher && toolbar->isVisible(); }));
}

}  // namespace
