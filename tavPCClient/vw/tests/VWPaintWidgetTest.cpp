// Building shapes, the shape list with undo and redo, pointer normalisation,
// the pen slots and the overlay bitmap.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPainter>
#include <QtTest/QTest>
#include <vector>

#include "RecordingLink.h"
#include "VWLines.h"
#include "VWPaintWidget.h"
#include "VWShapeProperty.h"

namespace {

using vw::VWPaintWidget;

void stroke(VWPaintWidget& canvas, int type, QPointF from, QPointF to) {
  canvas.setShape(type);
  canvas.beginShape(from);
  canvas.continueShape(to);
  canvas.finishShape();
}

TEST(VWShapePropertyTest, DefaultRecordAndVariants) {
  const VWShapeProperty d;
  EXPECT_EQ(d, (VWShapeProperty{0, 255, 0, 0, 255, 2}));
  VWShapeProperty::registerMetaType();
  EXPECT_NE(QMetaType::type("VWShapeProperty"), int(QMetaType::UnknownType));

  const VWShapeProperty blue{3, 0, 0, 255, 128, 5};
  EXPECT_EQ(VWShapeProperty::fromVariant(blue.toVariant()), blue);
  EXPECT_EQ(VWShapeProperty::fromVariant(QVariant(42)), d);
  EXPECT_EQ(VWShapeProperty::fromVariant(QVariant()), d);

  VWPaintWidget canvas(nullptr, nullptr);
  QVariant v = blue.toVariant();
  canvas.setCurrentShape(v);
  EXPECT_EQ(canvas.pen(), blue);
}

TEST(VWPaintWidgetTest, PenSlotsChangeOnlyTheNextShape) {
  VWPaintWidget canvas(nullptr, nullptr);
  EXPECT_EQ(canvas.pen(), VWShapeProperty());
  canvas.setShape(2, 5, 0, 255, 0, 255);
  stroke(canvas, 2, {0.1, 0.1}, {0.5, 0.5});
  canvas.setShapeColor(0, 0, 255, 100);
  canvas.setShapeWidth(1);
  ASSERT_EQ(canvas.shapeList().size(), 1);
  EXPECT_EQ(canvas.shapeList()[0]->property(), (VWShapeProperty{2, 0, 255, 0, 255, 5}));
  EXPECT_EQ(canvas.pen(), (VWShapeProperty{2, 0, 0, 255, 100, 1}));
}

TEST(VWPaintWidgetTest, ClicksAndStrokesThatEndWhereTheyBeganAreNotKept) {
  VWPaintWidget canvas(nullptr, nullptr);
  canvas.setShape(3);
  canvas.beginShape({0.4, 0.4});
  canvas.finishShape();
  EXPECT_TRUE(canvas.shapeList().isEmpty());
  ASSERT_TRUE(canvas.currentShape());  // stays current until the next one replaces it

  canvas.setShape(1);
  canvas.beginShape({0.2, 0.2});
  canvas.continueShape({0.3, 0.3});
  canvas.continueShape({0.2, 0.2});
  canvas.finishShape();
  EXPECT_TRUE(canvas.shapeList().isEmpty());

  // Differences count from 1e-12 on, absolutely, also near 1.
  stroke(canvas, 2, {0.9, 0.9}, {0.9 + 1e-13, 0.9});
  EXPECT_TRUE(canvas.shapeList().isEmpty());
  stroke(canvas, 2, {0.9, 0.9}, {0.9, 0.9 + 1e-11});
  EXPECT_EQ(canvas.shapeList().size(), 1);

  canvas.finishShape();  // a second finish does not add the shape again
  EXPECT_EQ(canvas.shapeList().size(), 1);
}

TEST(VWPaintWidgetTest, ToolZeroAndUnassignedCodesDrawNothing) {
  VWPaintWidget canvas(nullptr, nullptr);
  for (int tool : {0, 6, 8, -1, 99}) {
    stroke(canvas, tool, {0.1, 0.1}, {0.8, 0.8});
    EXPECT_FALSE(canvas.currentShape()) << tool;
  }
  EXPECT_TRUE(canvas.shapeList().isEmpty());
  canvas.beginShape({0.1, 0.1});
  EXPECT_TRUE(canvas.isDrawing());  // the flag is set even without a shape
}

TEST(VWPaintWidgetTest, BeginningWhileDrawingFinishesTheShapeFirst) {
  VWPaintWidget canvas(nullptr, nullptr);
  canvas.setShape(1);
  canvas.beginShape({0.1, 0.1});
  canvas.continueShape({0.2, 0.3});
  canvas.beginShape({0.5, 0.5});
  ASSERT_EQ(canvas.shapeList().size(), 1);
  auto first = std::dynamic_pointer_cast<vw::VWLines>(canvas.shapeList()[0]);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->points(), (QVector<QPointF>{{0.1, 0.1}, {0.2, 0.3}}));
  EXPECT_NE(canvas.currentShape(), canvas.shapeList()[0]);
  EXPECT_TRUE(canvas.isDrawing());
}

TEST(VWPaintWidgetTest, UndoRedoAndClearKeepTheirOrder) {
  VWPaintWidget canvas(nullptr, nullptr);
  canvas.undoShape();  // empty: only the current shape goes
  EXPECT_TRUE(canvas.shapeList().isEmpty());
  EXPECT_TRUE(canvas.undoneList().isEmpty());

  canvas.setShape(3);
  canvas.beginShape({0.5, 0.5});
  canvas.finishShape();  // a click: current, not listed
  canvas.undoShape();
  EXPECT_FALSE(canvas.currentShape());

  std::vector<VWPaintWidget::ShapePtr> s;
  for (int i = 0; i < 4; ++i) {
    stroke(canvas, 2, {0.1 * i, 0.1}, {0.1 * i + 0.05, 0.2});
    s.push_back(canvas.shapeList().last());
  }
  canvas.undoShape();
  canvas.undoShape();
  EXPECT_EQ(canvas.shapeList(), (QList<VWPaintWidget::ShapePtr>{s[0], s[1]}));
  EXPECT_EQ(canvas.undoneList(), (QList<VWPaintWidget::ShapePtr>{s[3], s[2]}));
  EXPECT_FALSE(canvas.currentShape());

  canvas.redoShape();  // the last undone comes back, the very same shape
  EXPECT_EQ(canvas.shapeList(), (QList<VWPaintWidget::ShapePtr>{s[0], s[1], s[2]}));
  stroke(canvas, 2, {0.7, 0.7}, {0.8, 0.8});
  const auto drawn = canvas.shapeList().last();
  canvas.redoShape();
  EXPECT_EQ(canvas.shapeList(), (QList<VWPaintWidget::ShapePtr>{s[0], s[1], s[2], drawn, s[3]}));
  canvas.redoShape();  // nothing left to redo
  EXPECT_EQ(canvas.shapeList().size(), 5);

  canvas.undoShape();
  canvas.clearAllShape();
  EXPECT_TRUE(canvas.shapeList().isEmpty());
  EXPECT_TRUE(canvas.undoneList().isEmpty());
  EXPECT_FALSE(canvas.currentShape());
  canvas.redoShape();
  EXPECT_TRUE(canvas.shapeList().isEmpty());
}

void send(QWidget& w, QEvent::Type type, QPointF pos, Qt::MouseButton button,
          Qt::MouseButtons buttons) {
  QMouseEvent e(type, pos, button, buttons, Qt::NoModifier);
  QApplication::sendEvent(&w, &e);
}

// A press is taken as it is; moves are clamped to the canvas.
TEST(VWPaintWidgetTest, PointerPositionsAreNormalisedClampedOnlyOnMove) {
  RecordingLink link;
  VWPaintWidget canvas(nullptr, &link);
  canvas.resize(400, 200);
  canvas.show();
  canvas.setShape(1);
  send(canvas, QEvent::MouseButtonPress, {-40, 300}, Qt::LeftButton, Qt::LeftButton);
  send(canvas, QEvent::MouseMove, {100, 50}, Qt::NoButton, Qt::LeftButton);
  send(canvas, QEvent::MouseMove, {-40, 300}, Qt::NoButton, Qt::LeftButton);
  send(canvas, QEvent::MouseMove, {500, -10}, Qt::NoButton, Qt::LeftButton);
  send(canvas, QEvent::MouseButtonRelease, {500, -10}, Qt::LeftButton, Qt::NoButton);
  ASSERT_EQ(canvas.shapeList().size(), 1);
  auto lines = std::dynamic_pointer_cast<vw::VWLines>(canvas.shapeList()[0]);
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->points(),
            (QVector<QPointF>{{-0.1, 1.5}, {0.25, 0.25}, {0.0, 1.0}, {1.0, 0.0}}));
  EXPECT_FALSE(canvas.isDrawing());

  // A click without movement through the mouse adds nothing either.
  QTest::mouseClick(&canvas, Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
  EXPECT_EQ(canvas.shapeList().size(), 1);
}

struct LogCapture {
  static QStringList& lines() {
    static QStringList l;
    return l;
  }
  static void handler(QtMsgType, const QMessageLogContext&, const QString& text) {
    lines() << text;
  }
  LogCapture() {
    lines().clear();
    previous = qInstallMessageHandler(&LogCapture::handler);
  }
  ~LogCapture() { qInstallMessageHandler(previous); }
  QtMessageHandler previous;
};

TEST(VWPaintWidgetTest, MarkBitWithoutAPixmapLeavesEverythingAlone) {
  VWPaintWidget canvas(nullptr, nullptr);  // never shown, resized or painted
  stroke(canvas, 2, {0.1, 0.1}, {0.9, 0.9});
  std::vector<uint8_t> buffer(64, 0xAB);
  int width = -7, height = -8, len = -9;
  LogCapture log;
  EXPECT_EQ(canvas.getMarkBit(buffer.data(), width, height, len), 0);
  EXPECT_EQ(LogCapture::lines(), QStringList{"00001"});
  EXPECT_EQ(width, -7);
  EXPECT_EQ(height, -8);
  EXPECT_EQ(len, -9);
  EXPECT_EQ(buffer, std::vector<uint8_t>(64, 0xAB));
}

TEST(VWPaintWidgetTest, MarkBitIsTheDrawingAt1920x1080) {
  VWPaintWidget canvas(nullptr, nullptr);
  canvas.resize(800, 600);
  canvas.show();
  canvas.setShape(3, 6, 0, 0, 255, 255);
  canvas.beginShape({0.25, 0.25});
  canvas.continueShape({0.75, 0.75});
  canvas.finishShape();
  QImage shown(canvas.size(), QImage::Format_ARGB32_Premultiplied);
  canvas.render(&shown);  // paints the canvas, and with it the mark pixmap

  std::vector<uint8_t> buffer(1920 * 1080 * 4, 0);
  int width = 0, height = 0, len = 0;
  LogCapture log;
  EXPECT_EQ(canvas.getMarkBit(buffer.data(), width, height, len), 0);
  EXPECT_EQ(LogCapture::lines(), (QStringList{"00001", "00002"}));
  ASSERT_EQ(width, 1920);
  ASSERT_EQ(height, 1080);
  ASSERT_EQ(len, 1920 * 1080 * 4);
  auto pixel = [&](int x, int y) {
    return reinterpret_cast<const QRgb*>(buffer.data())[y * 1920 + x];
  };
  // The rectangle's left side runs at a quarter of the width, from a quarter
  // to three quarters of the height; inside and outside stay transparent.
  auto blueNear = [&](int x, int y) {
    for (int dx = -12; dx <= 12; ++dx)
      if (pixel(x + dx, y) == qRgba(0, 0, 255, 255))
        return true;
    return false;
  };
  EXPECT_TRUE(blueNear(480, 540));
  EXPECT_TRUE(blueNear(1440, 300));
  EXPECT_EQ(qAlpha(pixel(960, 540)), 0);
  EXPECT_EQ(qAlpha(pixel(100, 100)), 0);
}

}  // namespace
