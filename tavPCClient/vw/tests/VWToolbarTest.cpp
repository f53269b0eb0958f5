// The holder's drawing toolbar with its bars, and the teacher's list of
// board-writing requests, offscreen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QJsonObject>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest/QTest>

#include "AnnotationAppItem.h"
#include "AnnotationAppList.h"
#include "DrawingSettingsBar.h"
#include "DrawingToolbar.h"
#include "EraserWidthBar.h"
#include "RecordingLink.h"
#include "RoomMessageTypes.h"
#include "VWPaintWidget.h"
#include "eventually.h"

namespace {

using testsupport::eventually;
using namespace vw;

constexpr int kWaitMs = 30000;  // bounds a failure only

// A teaching area with the canvas and the toolbar over it, as the classroom has them.
struct Board {
  RecordingLink link;
  QWidget area;
  VWPaintWidget canvas{&area, &link};
  DrawingToolbar toolbar{&canvas, &link, &area};

  Board() {
    area.resize(1000, 700);
    canvas.setGeometry(area.rect());
    toolbar.move(20, 30);
    area.show();
  }
  QAbstractButton* button(const char* name) {
    auto* b = area.findChild<QAbstractButton*>(QString::fromLatin1(name));
    EXPECT_NE(b, nullptr) << name;
    return b;
  }
  // The toolbar's own messages; the canvas's tool notice names its type as a string.
  QVector<RecordingLink::Sent> boardMessages() const {
    QVector<RecordingLink::Sent> own;
    for (const auto& s : link.sent())
      if (s.msg.value(KEY_TYPE_ID).isDouble())
        own.append(s);
    return own;
  }
  // Waits until the send thread has sent at least expected of them.
  QVector<RecordingLink::Sent> boardMessagesWhenSent(int expected) {
    EXPECT_TRUE(eventually(
        [&] { return boardMessages().size() >= expected && canvas.pendingSends() == 0; }));
    return boardMessages();
  }
  void drawStroke() {
    canvas.beginShape({0.1, 0.1});
    canvas.continueShape({0.4, 0.5});
    canvas.finishShape();
  }
};

bool samePen(const VWShapeProperty& p, int shape, int width, int r, int g, int b, int a) {
  return p == VWShapeProperty{shape, r, g, b, a, width};
}

void mouse(QWidget& w, QEvent::Type type, QPoint local) {
  const bool release = type == QEvent::MouseButtonRelease;
  QMouseEvent e(type, local, local, w.mapToGlobal(local),
                type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                release ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton), Qt::NoModifier);
  QApplication::sendEvent(&w, &e);
}

TEST(VWToolbarTest, GroupId4SelectsTheLineAndOtherIdsNothing) {
  Board b;
  b.toolbar.buttonGroup_clicked(4);
  EXPECT_EQ(b.canvas.pen().shapeType, 2) << "the line, not the eraser";
  b.toolbar.buttonGroup_clicked(5);
  b.toolbar.buttonGroup_clicked(-1);
  EXPECT_EQ(b.canvas.pen().shapeType, 2);
  const auto sent = b.boardMessagesWhenSent(1);
  ASSERT_EQ(sent.size(), 1) << "ids outside the group send nothing";
  EXPECT_EQ(sent[0].msg.value(KEY_CONTENT).toInt(), 2);

  // The line button is the group's id 4.
  b.toolbar.buttonGroup_clicked(0);
  QTest::mouseClick(b.button("btnLine"), Qt::LeftButton);
  EXPECT_EQ(b.canvas.pen().shapeType, 2);
  EXPECT_TRUE(b.button("btnLine")->isChecked());
}

TEST(VWToolbarTest, EveryChoiceChangesThePenAndTellsEverybody) {
  Board b;
  const QJsonObject green{{"r", 0}, {"g", 255}, {"b", 0}, {"a", 255}};
  const QJsonObject blue{{"r", 0}, {"g", 0}, {"b", 255}, {"a", 255}};
  const QJsonObject yellow{{"r", 255}, {"g", 255}, {"b", 0}, {"a", 255}};
  const QJsonObject red{{"r", 255}, {"g", 0}, {"b", 0}, {"a", 255}};
  // In an order where every click changes the pen it finds.
  const struct {
    const char* button;
    int typeId;
    QJsonValue content;
    int shape, width, r, g, bl;
  } rows[] = {
      {"btnRectangle", ANNO_TOOL, 3, 3, 2, 255, 0, 0},
      {"btnOval", ANNO_TOOL, 4, 4, 2, 255, 0, 0},
      {"btnArrow", ANNO_TOOL, 5, 5, 2, 255, 0, 0},
      {"btnLine", ANNO_TOOL, 2, 2, 2, 255, 0, 0},
      {"btnEraser", ANNO_TOOL, 7, 7, 2, 255, 0, 0},
      {"btnPen", ANNO_TOOL, 1, 1, 2, 255, 0, 0},
      {"btnLineWidth1", ANNO_WIDTH, 1, 1, 1, 255, 0, 0},
      {"btnLineWidth3", ANNO_WIDTH, 5, 1, 5, 255, 0, 0},
      {"btnLineWidth2", ANNO_WIDTH, 2, 1, 2, 255, 0, 0},
      {"btnGreen", ANNO_COLOR, green, 1, 2, 0, 255, 0},
      {"btnBlue", ANNO_COLOR, blue, 1, 2, 0, 0, 255},
      {"btnYellow", ANNO_COLOR, yellow, 1, 2, 255, 255, 0},
      {"btnRed", ANNO_COLOR, red, 1, 2, 255, 0, 0},
  };
  int count = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.button);
    b.button(row.button)->click();
    EXPECT_TRUE(samePen(b.canvas.pen(), row.shape, row.width, row.r, row.g, row.bl, 255));
    const auto sent = b.boardMessagesWhenSent(++count);
    ASSERT_EQ(sent.size(), count) << "one message a click";
    const QJsonObject expected{
        {KEY_TYPE_ID, row.typeId}, {KEY_SEND_USER_ID, 7}, {KEY_CONTENT, row.content}};
    EXPECT_EQ(sent.last().msg, expected);
    EXPECT_EQ(sent.last().target, "*");
    ASSERT_FALSE(b.link.phone.isEmpty());
    EXPECT_EQ(b.link.phone.last(), expected) << "mirrored to the phone";
  }
}

TEST(VWToolbarTest, UndoPausesForASecondAndClearEmptiesTheBoard) {
  Board b;
  b.drawStroke();
  b.drawStroke();
  ASSERT_EQ(b.canvas.shapeList().size(), 2);
  QAbstractButton* revoke = b.button("btnRevoke");

  QTest::mouseClick(revoke, Qt::LeftButton);
  EXPECT_EQ(b.canvas.shapeList().size(), 1);
  EXPECT_FALSE(revoke->isEnabled());
  QTest::mouseClick(revoke, Qt::LeftButton);
  b.toolbar.btnRevoke_clicked();  // the slot itself holds to the pause too
  EXPECT_EQ(b.canvas.shapeList().size(), 1) << "a second undo within the pause is ignored";

  ASSERT_TRUE(QTest::qWaitFor([&] { return revoke->isEnabled(); }, kWaitMs));
  QTest::mouseClick(revoke, Qt::LeftButton);
  EXPECT_EQ(b.canvas.shapeList().size(), 0);

  b.drawStroke();
  b.button("btnBrush")->click();
  EXPECT_TRUE(b.canvas.shapeList().isEmpty());
  const auto sent = b.boardMessagesWhenSent(3);
  ASSERT_EQ(sent.size(), 3);
  EXPECT_EQ(sent[0].msg.value(KEY_CONTENT).toInt(), 8);
  EXPECT_EQ(sent[1].msg.value(KEY_CONTENT).toInt(), 8);
  EXPECT_EQ(sent[2].msg.value(KEY_CONTENT).toInt(), 10);
}

TEST(VWToolbarTest, ResetGivesTheRedMiddlePenAndShowsIt) {
  Board b;
  b.button("btnRectangle")->click();
  b.button("btnLineWidth3")->click();
  b.button("btnBlue")->click();
  b.button("btnEraser")->click();
  EXPECT_TRUE(b.button("btnEraser")->isChecked());
  EXPECT_FALSE(b.button("btnRectangle")->isChecked()) << "one tool shown chosen at a time";
  ASSERT_TRUE(b.toolbar.eraserBar()->isVisible());

  b.toolbar.resetToDefaults();
  EXPECT_TRUE(samePen(b.canvas.pen(), 1, 2, 255, 0, 0, 255));
  EXPECT_TRUE(b.button("btnPen")->isChecked());
  EXPECT_FALSE(b.button("btnEraser")->isChecked());
  EXPECT_TRUE(b.button("btnLineWidth2")->isChecked());
  EXPECT_FALSE(b.button("btnLineWidth3")->isChecked());
  EXPECT_TRUE(b.button("btnRed")->isChecked());
  EXPECT_FALSE(b.button("btnBlue")->isChecked());
  EXPECT_FALSE(b.toolbar.eraserBar()->isVisible());
  EXPECT_FALSE(b.toolbar.settingsBar()->isVisible());
}

TEST(VWToolbarTest, TheSettingsBarStandsBesideTheClickedToolAndTogglesOnItsButton) {
  Board b;
  DrawingSettingsBar* bar = b.toolbar.settingsBar();
  const char* tools[] = {"btnPen", "btnRectangle", "btnOval", "btnArrow", "btnLine"};
  for (int id = 0; id < 5; ++id) {
    SCOPED_TRACE(tools[id]);
    QAbstractButton* tool = b.button(tools[id]);
    QTest::mouseClick(tool, Qt::LeftButton);
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->y(), b.toolbar.y() + id * 45 + 23);
    EXPECT_GE(bar->x(), b.toolbar.x() + b.toolbar.width());
    // The bar is level with its button's row.
    const int rowTop = b.toolbar.y() + tool->y();
    EXPECT_GE(bar->y(), rowTop);
    EXPECT_LT(bar->y(), rowTop + tool->height());
  }
  QAbstractButton* line = b.button("btnLine");
  QTest::mouseClick(line, Qt::LeftButton);
  EXPECT_FALSE(bar->isVisible()) << "the same button again hides it";
  QTest::mouseClick(line, Qt::LeftButton);
  EXPECT_TRUE(bar->isVisible());

  b.toolbar.hide();
  EXPECT_FALSE(bar->isVisible()) << "the bars go with the toolbar";
}

TEST(VWToolbarTest, TheEraserButtonTogglesTheEraserBar) {
  Board b;
  EraserWidthBar* eraserBar = b.toolbar.eraserBar();
  QAbstractButton* eraser = b.button("btnEraser");
  QTest::mouseClick(b.button("btnPen"), Qt::LeftButton);
  QTest::mouseClick(eraser, Qt::LeftButton);
  ASSERT_TRUE(eraserBar->isVisible());
  EXPECT_EQ(eraserBar->y(), b.toolbar.y() + 220);
  EXPECT_GE(eraserBar->x(), b.toolbar.x() + b.toolbar.width());
  EXPECT_FALSE(b.toolbar.settingsBar()->isVisible()) << "they would overlap";
  QTest::mouseClick(eraser, Qt::LeftButton);
  EXPECT_FALSE(eraserBar->isVisible());
  QTest::mouseClick(eraser, Qt::LeftButton);
  EXPECT_TRUE(eraserBar->isVisible());
}

TEST(VWToolbarTest, DraggingTheToolbarTakesTheBarsAlongAndStaysInTheArea) {
  Board b;
  QTest::mouseClick(b.button("btnOval"), Qt::LeftButton);
  QWidget* bar = b.toolbar.settingsBar();
  QWidget* eraserBar = b.toolbar.eraserBar();
  const QPoint barFromToolbar = bar->pos() - b.toolbar.pos();
  const QPoint eraserFromToolbar = eraserBar->pos() - b.toolbar.pos();
  const QPoint start = b.toolbar.pos();

  // Held by the grip above the buttons, not by a button.
  const QPoint grip(b.toolbar.width() / 2, 5);
  ASSERT_EQ(b.toolbar.childAt(grip), nullptr);
  auto dragBy = [&](QPoint distance) {
    const QPoint at = b.toolbar.mapToParent(grip);
    mouse(b.toolbar, QEvent::MouseButtonPress, grip);
    mouse(b.toolbar, QEvent::MouseMove, b.toolbar.mapFromParent(at + distance / 2));
    mouse(b.toolbar, QEvent::MouseMove, b.toolbar.mapFromParent(at + distance));
    mouse(b.toolbar, QEvent::MouseButtonRelease, b.toolbar.mapFromParent(at + distance));
  };
  dragBy({300, 120});
  EXPECT_EQ(b.toolbar.pos(), start + QPoint(300, 120));
  EXPECT_EQ(bar->pos() - b.toolbar.pos(), barFromToolbar);
  EXPECT_EQ(eraserBar->pos() - b.toolbar.pos(), eraserFromToolbar);

  dragBy({-5000, 5000});
  EXPECT_EQ(b.toolbar.pos(), QPoint(0, b.area.height() - b.toolbar.height()));
  EXPECT_EQ(bar->pos() - b.toolbar.pos(), barFromToolbar);

  // A move without a press on the background drags nothing.
  const QPoint before = b.toolbar.pos();
  mouse(b.toolbar, QEvent::MouseMove, grip + QPoint(40, -40));
  EXPECT_EQ(b.toolbar.pos(), before);
}

TEST(VWToolbarTest, TheRequestListKeepsAMemberOnceAndLetsAnItemRemoveItself) {
  AnnotationAppList list(nullptr);
  EXPECT_EQ(list.windowTitle(), QStringLiteral("申请板书的请求列表"));
  EXPECT_FALSE(list.isModal());
  auto* empty = list.findChild<QLabel*>("appListEmpty");
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->isVisibleTo(&list));

  AnnotationAppItem* first = list.addRequest(5, QStringLiteral("甲"));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(list.addRequest(5, QStringLiteral("甲")), nullptr) << "a member is listed once";
  AnnotationAppItem* second = list.addRequest(6, QStringLiteral("乙"));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(list.count(), 2);
  EXPECT_EQ(list.item(5), first);
  EXPECT_EQ(first->userId(), 5u);
  EXPECT_FALSE(empty->isVisibleTo(&list));

  // The classroom answers and takes the item off from inside its signal.
  QVector<int> replies;
  for (AnnotationAppItem* item : {first, second})
    QObject::connect(item, &AnnotationAppItem::sgnReplyApply,
                     [&](AnnotationAppItem* from, int reply) {
                       replies.append(reply);
                       list.removeRequest(from->userId());
                     });
  QPointer<AnnotationAppItem> gone(first);
  first->findChild<QPushButton*>("btnAgree")->click();
  second->findChild<QPushButton*>("btnRefuse")->click();
  EXPECT_EQ(replies, (QVector<int>{1, 2}));
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.item(5), nullptr);
  list.removeRequest(5);  // no longer listed: nothing
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(gone.isNull());
  EXPECT_TRUE(empty->isVisibleTo(&list));

  // A member may ask again once the answer is through.
  EXPECT_NE(list.addRequest(5, QStringLiteral("甲")), nullptr);
}

TEST(VWToolbarTest, ARequestWaitingForDeliveryTakesNoSecondAnswerAndNamesStayText) {
  AnnotationAppItem item(9, QStringLiteral("<b>x</b>"), nullptr);
  const auto labels = item.findChildren<QLabel*>();
  const QLabel* name = nullptr;
  bool asked = false;
  for (const QLabel* label : labels) {
    if (label->text() == QStringLiteral("<b>x</b>"))
      name = label;
    asked = asked || label->text() == QStringLiteral("申请使用板书");
  }
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->textFormat(), Qt::PlainText) << "a name is never read as markup";
  EXPECT_TRUE(asked);

  QSignalSpy replies(&item, &AnnotationAppItem::sgnReplyApply);
  auto* agree = item.findChild<QPushButton*>("btnAgree");
  auto* refuse = item.findChild<QPushButton*>("btnRefuse");
  ASSERT_TRUE(agree && refuse);
  EXPECT_EQ(agree->text(), QStringLiteral("同意"));
  item.setSending();
  EXPECT_EQ(agree->text(), QStringLiteral("发送中..."));
  EXPECT_FALSE(agree->isEnabled());
  EXPECT_FALSE(refuse->isEnabled());
  QTest::mouseClick(agree, Qt::LeftButton);
  QTest::mouseClick(refuse, Qt::LeftButton);
  EXPECT_EQ(replies.count(), 0);
}

}  // namespace
