// The canvas draws a fixed board of every shape kind the same way at 800x600
// and at 1600x900. The expected pictures are drawn here from QPainter
// primitives and the drawing rules (truncated integer rectangles, single
// precision lines, 10 px arrow heads, cubic runs of free-hand points, eraser
// segments in pairs), so a fault in any rule shows as differing pixels.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "VWClassroomLink.h"
#include "VWPaintWidget.h"
#include "VWSharedPictureDisplay.h"

namespace {

struct Picture : vw::VWSharedPictureDisplay, vw::VWClassroomLink {
  QPixmap pixmap;
  QPixmap shownPixmap() const override { return pixmap; }
  vw::VWSharedPictureDisplay* sharedPictureDisplay() override { return this; }
};

QPixmap patternPicture() {
  QImage image(1600, 900, QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      image.setPixel(x, y, qRgba(x % 256, y % 256, 128, 255));
  return QPixmap::fromImage(image);
}

using Points = QVector<QPointF>;

struct Stroke {
  int type, r, g, b, a, width;
  Points points;  // normalised; the first is the press, the rest are moves
};

const std::vector<Stroke>& board() {
  static const std::vector<Stroke> strokes = {
      {1, 255, 0, 0, 255, 2,
       {{0.05, 0.30}, {0.10, 0.20}, {0.15, 0.40}, {0.20, 0.30}, {0.25, 0.35}, {0.30, 0.25}}},
      {1, 0, 128, 255, 255, 3, {{0.40, 0.05}, {0.55, 0.12}}},
      {1, 255, 0, 255, 180, 4, {{0.60, 0.20}, {0.70, 0.05}, {0.80, 0.35}, {0.90, 0.20}}},
      {2, 0, 255, 0, 255, 1, {{0.1237, 0.8123}, {0.5, 0.6}, {0.9011, 0.1555}}},
      {3, 0, 0, 255, 255, 3, {{0.1237, 0.1555}, {0.30, 0.30}, {0.4419, 0.3871}}},
      {4, 255, 255, 0, 200, 5, {{0.6013, 0.6029}, {0.3377, 0.8998}}},
      {5, 0, 0, 0, 255, 2, {{0.2, 0.7}, {0.7019, 0.4517}}},
      {7, 255, 0, 0, 255, 8,
       {{0.05, 0.05}, {0.30, 0.07}, {0.95, 0.50}, {0.95, 0.95}, {0.50, 0.93}}},
  };
  return strokes;
}

void drawBoardOnCanvas(vw::VWPaintWidget& canvas) {
  for (const Stroke& s : board()) {
    canvas.setShape(s.type);
    canvas.setShapeColor(s.r, s.g, s.b, s.a);
    canvas.setShapeWidth(s.width);
    canvas.beginShape(s.points.front());
    for (int i = 1; i < s.points.size(); ++i)
      canvas.continueShape(s.points[i]);
    canvas.finishShape();
  }
}

QPen penOf(const Stroke& s) {
  return QPen(QBrush(QColor(s.r, s.g, s.b, s.a)), s.width, Qt::SolidLine, Qt::SquareCap,
              Qt::BevelJoin);
}

// The board as the drawing rules describe it, without the canvas's code.
QImage expectedBoard(QSize size, const QPixmap& picture, bool antialiased) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, antialiased);
  p.setBrush(Qt::transparent);
  if (antialiased)  // the widget's left edge, drawn with the default pen
    p.drawLine(0, 0, 0, size.height() - 1);
  const double w = size.width(), h = size.height();
  auto px = [&](QPointF n) { return QPointF(n.x() * w, n.y() * h); };
  for (const Stroke& s : board()) {
    const QPointF a = px(s.points.front()), e = px(s.points.back());
    p.setPen(penOf(s));
    switch (s.type) {
      case 1: {
        Points q;
        for (const QPointF& n : s.points)
          q << px(n);
        QPainterPath path(q[0]);
        if (q.size() == 6) {  // one cubic, then two straight pieces
          path.cubicTo(q[1], q[2], q[3]);
          path.lineTo(q[4]);
          path.lineTo(q[5]);
        } else if (q.size() == 4) {  // one cubic
          path.cubicTo(q[1], q[2], q[3]);
        } else {  // two points: a straight segment
          path.lineTo(q[1]);
        }
        p.drawPath(path);
        break;
      }
      case 2: {
        const QPointF fa(float(s.points.front().x()) * float(w),
                         float(s.points.front().y()) * float(h));
        const QPointF fe(float(s.points.back().x()) * float(w),
                         float(s.points.back().y()) * float(h));
        p.drawLine(QLineF(fa, fe));
        break;
      }
      case 3:
        p.drawRect(int(a.x()), int(a.y()), int(e.x() - a.x()), int(e.y() - a.y()));
        break;
      case 4:
        p.drawEllipse(int(a.x()), int(a.y()), int(e.x() - a.x()), int(e.y() - a.y()));
        break;
      case 5: {
        p.drawLine(QLineF(a, e));
        const double t = std::atan2(e.y() - a.y(), e.x() - a.x());
        const QPoint tip(int(e.x()), int(e.y()));
        p.drawLine(QPoint(int(e.x() - 10 * std::cos(t - 0.5)), int(e.y() - 10 * std::sin(t - 0.5))),
                   tip);
        p.drawLine(QPoint(int(e.x() - 10 * std::cos(t + 0.5)), int(e.y() - 10 * std::sin(t + 0.5))),
                   tip);
        break;
      }
      case 7:  // segments 0-1 and 2-3; the fifth point pairs with nothing
        p.setPen(QPen(QBrush(picture), s.width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        p.drawLine(QLineF(px(s.points[0]), px(s.points[1])));
        p.drawLine(QLineF(px(s.points[2]), px(s.points[3])));
        break;
    }
  }
  return image;
}

QImage renderCanvas(vw::VWPaintWidget& canvas) {
  QImage image(canvas.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  canvas.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

// Pixels whose channels differ by more than the tolerance.
int differingPixels(const QImage& a, const QImage& b, int tolerance) {
  const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (x.size() != y.size())
    return -1;
  int count = 0;
  for (int row = 0; row < x.height(); ++row)
    for (int col = 0; col < x.width(); ++col) {
      const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
      if (std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance ||
          std::abs(qBlue(p) - qBlue(q)) > tolerance || std::abs(qAlpha(p) - qAlpha(q)) > tolerance)
        ++count;
    }
  return count;
}

int opaquePixels(const QImage& image) {
  int count = 0;
  for (int row = 0; row < image.height(); ++row)
    for (int col = 0; col < image.width(); ++col)
      count += qAlpha(image.pixel(col, row)) > 0;
  return count;
}

class VWRenderTest : public ::testing::TestWithParam<QSize> {};

// Same primitives in the same order give the same pixels: no tolerance.
TEST_P(VWRenderTest, BoardOfEveryShapeMatchesTheDrawingRules) {
  Picture picture;
  picture.pixmap = patternPicture();
  vw::VWPaintWidget canvas(nullptr, &picture);
  canvas.resize(GetParam());
  canvas.show();
  drawBoardOnCanvas(canvas);
  ASSERT_EQ(canvas.shapeList().size(), int(board().size()));

  const QImage shown = renderCanvas(canvas);
  const QImage expected = expectedBoard(GetParam(), picture.pixmap, true);
  EXPECT_GT(opaquePixels(expected), 1000);
  EXPECT_EQ(differingPixels(shown, expected, 0), 0);

  // The mark pixmap holds the same drawing, without antialiasing and without
  // the widget's edge line.
  ASSERT_FALSE(canvas.markPixmap().isNull());
  EXPECT_EQ(differingPixels(canvas.markPixmap().toImage(),
                            expectedBoard(GetParam(), picture.pixmap, false), 0),
            0);
}

// Without a shown picture the eraser draws nothing at all.
TEST_P(VWRenderTest, EraserWithoutAPictureDrawsNothing) {
  Picture picture;
  vw::VWPaintWidget canvas(nullptr, &picture);
  canvas.resize(GetParam());
  canvas.show();
  canvas.setShape(7);
  canvas.setShapeWidth(8);
  canvas.beginShape({0.1, 0.5});
  canvas.continueShape({0.9, 0.5});
  canvas.finishShape();
  ASSERT_EQ(canvas.shapeList().size(), 1);
  const QImage shown = renderCanvas(canvas);
  QImage edgeOnly(GetParam(), QImage::Format_ARGB32_Premultiplied);
  edgeOnly.fill(Qt::transparent);
  QPainter p(&edgeOnly);
  p.setRenderHint(QPainter::Antialiasing);
  p.drawLine(0, 0, 0, GetParam().height() - 1);
  p.end();
  EXPECT_EQ(differingPixels(shown, edgeOnly, 0), 0);
}

// Measured on the pixels: the head strokes reach 10 px back from the tip at
// both sizes, while the shaft doubles in length.
TEST_P(VWRenderTest, ArrowHeadIsTenPixelsLong) {
  vw::VWPaintWidget canvas(nullptr, nullptr);
  canvas.resize(GetParam());
  canvas.show();
  canvas.setShape(5, 1, 0, 0, 0, 255);
  canvas.beginShape({0.25, 0.5});
  canvas.continueShape({0.75, 0.5});
  canvas.finishShape();
  const QImage shown = renderCanvas(canvas);
  const int tipX = int(0.75 * GetParam().width()), tipY = int(0.5 * GetParam().height());
  double reach = 0;
  int pixels = 0;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 1; x < shown.width(); ++x)  // column 0 is the edge line
      if (qAlpha(shown.pixel(x, y)) > 64 && std::abs(y - tipY) >= 3) {
        reach = std::max(reach, std::hypot(x - tipX, y - tipY));
        ++pixels;
      }
  // 10 px plus the square cap and the pixel grid; the shaft is 200 or 400 px.
  EXPECT_GT(pixels, 4);
  EXPECT_GE(reach, 9.0);
  EXPECT_LE(reach, 12.5);
}

INSTANTIATE_TEST_SUITE_P(Sizes, VWRenderTest, ::testing::Values(QSize(800, 600), QSize(1600, 900)),
                         [](const auto& info) {
                           return std::to_string(info.param.width()) + "x" +
                                  std::to_string(info.param.height());
                         });

}  // namespace
