// tav-wbtemplete: draws the whiteboard background templates the client offers
// (blank paper, character grid, pinyin rows, letter paper, English four-line
// paper, footsteps) as 1600x900 PNGs into the folder given as argument.
// Only shapes are painted, so no QGuiApplication is needed.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QTransform>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 900;
constexpr double kPi = 3.14159265358979323846;

const QColor kGridRed(232, 146, 146);
const QColor kGridRedLight(243, 196, 196);
const QColor kPinyinGreen(128, 196, 148);
const QColor kPinyinBand(238, 248, 241);
const QColor kRuleBlue(168, 192, 222);
const QColor kBaselineRed(236, 160, 160);

QPen solidPen(const QColor& color, qreal width) {
  QPen pen(color, width);
  pen.setCapStyle(Qt::FlatCap);
  return pen;
}

// Odd-width lines sit on half pixels so they stay one crisp pixel row.
qreal crisp(int y, qreal width) {
  return static_cast<int>(std::lround(width)) % 2 == 1 ? y + 0.5 : y;
}

void hline(QPainter& p, int x0, int x1, int y, const QPen& pen) {
  p.setPen(pen);
  const qreal cy = crisp(y, pen.widthF());
  p.drawLine(QPointF(x0, cy), QPointF(x1, cy));
}

void whitePaper(QPainter&) {
  // Nothing to draw: the image starts white.
}

// Rows of square cells, each split by dashed centre lines and diagonals.
void characterGrid(QPainter& p) {
  const int cell = 110;
  const int cols = 13;
  const int rows = 6;
  const int gap = 28;
  const int left = (kWidth - cols * cell) / 2;
  const int top = (kHeight - rows * cell - (rows - 1) * gap) / 2;

  QPen dashed(kGridRedLight, 1.0);
  dashed.setDashPattern({5.0, 4.0});
  dashed.setCapStyle(Qt::FlatCap);

  for (int r = 0; r < rows; ++r) {
    const int y = top + r * (cell + gap);
    for (int c = 0; c < cols; ++c) {
      const qreal x = left + c * cell;
      p.setPen(dashed);
      p.drawLine(QPointF(x + cell / 2.0 + 0.5, y), QPointF(x + cell / 2.0 + 0.5, y + cell));
      p.drawLine(QPointF(x, y + cell / 2.0 + 0.5), QPointF(x + cell, y + cell / 2.0 + 0.5));
      p.drawLine(QPointF(x, y), QPointF(x + cell, y + cell));
      p.drawLine(QPointF(x + cell, y), QPointF(x, y + cell));
    }
    // Cell separators, then the heavier strip outline on top.
    p.setPen(solidPen(kGridRed, 1.0));
    for (int c = 1; c < cols; ++c) {
      const qreal x = left + c * cell + 0.5;
      p.drawLine(QPointF(x, y), QPointF(x, y + cell));
    }
    p.setPen(solidPen(kGridRed, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(left, y, cols * cell, cell));
  }
}

// Four lines, three spaces per row; the middle space is tinted.
void pinyin(QPainter& p) {
  const int space = 24;
  const int rowHeight = 3 * space;
  const int rows = 7;
  const int gap = 48;
  const int left = 80;
  const int right = kWidth - 80;
  const int top = (kHeight - rows * rowHeight - (rows - 1) * gap) / 2;

  for (int r = 0; r < rows; ++r) {
    const int y = top + r * (rowHeight + gap);
    p.fillRect(QRect(left, y + space, right - left, space), kPinyinBand);
    hline(p, left, right, y, solidPen(kPinyinGreen, 2.0));
    hline(p, left, right, y + space, solidPen(kPinyinGreen, 1.0));
    hline(p, left, right, y + 2 * space, solidPen(kPinyinGreen, 1.0));
    hline(p, left, right, y + rowHeight, solidPen(kPinyinGreen, 2.0));
  }
}

// Letter paper: a double rule under the header, evenly ruled lines, and a
// margin line on the left.
void stationery(QPainter& p) {
  const int left = 60;
  const int right = kWidth - 60;
  hline(p, left, right, 96, solidPen(kRuleBlue, 2.0));
  hline(p, left, right, 102, solidPen(kRuleBlue, 1.0));
  for (int y = 162; y <= kHeight - 50; y += 58) {
    hline(p, left, right, y, solidPen(kRuleBlue, 1.0));
  }
  p.setPen(solidPen(kBaselineRed, 1.0));
  p.drawLine(QPointF(140.5, 0), QPointF(140.5, kHeight));
}

// English four-line paper: equal spaces, the third line (the baseline) red.
void english(QPainter& p) {
  const int space = 22;
  const int rowHeight = 3 * space;
  const int rows = 8;
  const int gap = 44;
  const int left = 80;
  const int right = kWidth - 80;
  const int top = (kHeight - rows * rowHeight - (rows - 1) * gap) / 2;

  for (int r = 0; r < rows; ++r) {
    const int y = top + r * (rowHeight + gap);
    hline(p, left, right, y, solidPen(kRuleBlue, 1.0));
    hline(p, left, right, y + space, solidPen(kRuleBlue, 1.0));
    hline(p, left, right, y + 2 * space, solidPen(kBaselineRed, 2.0));
    hline(p, left, right, y + rowHeight, solidPen(kRuleBlue, 1.0));
  }
}

// One bare right footprint pointing up (towards -y), about 46 px long: the
// big toe is on the left. Mirrored, it is a left foot.
QPainterPath footprint() {
  QPainterPath path;
  path.addEllipse(QPointF(0, 2), 9.5, 12.0);  // ball of the foot
  path.addEllipse(QPointF(1, 20), 6.5, 7.5);  // heel
  path.addEllipse(QPointF(-6.5, -14), 3.6, 4.2);
  path.addEllipse(QPointF(-1.0, -16.5), 2.9, 3.3);
  path.addEllipse(QPointF(3.6, -15.5), 2.5, 2.9);
  path.addEllipse(QPointF(7.4, -13.0), 2.2, 2.5);
  path.addEllipse(QPointF(10.2, -9.5), 1.9, 2.1);
  path.setFillRule(Qt::WindingFill);
  return path;
}

// Playful rows of footprints walking along gentle waves, alternating
// direction from row to row.
void footsteps(QPainter& p) {
  const std::vector<QColor> colors = {
      QColor(244, 170, 120, 90),
      QColor(120, 190, 150, 90),
      QColor(120, 168, 232, 90),
      QColor(226, 140, 180, 90),
  };
  const QPainterPath foot = footprint();
  const int rows = 4;
  const qreal rowGap = kHeight / static_cast<qreal>(rows);
  const qreal amplitude = 26.0;
  const qreal wavelength = 760.0;
  const qreal stride = 64.0;

  p.setPen(Qt::NoPen);
  for (int r = 0; r < rows; ++r) {
    const qreal baseY = rowGap * (r + 0.5);
    const bool leftToRight = r % 2 == 0;
    const qreal phase = r * 1.3;
    p.setBrush(colors[static_cast<size_t>(r) % colors.size()]);
    int step = 0;
    for (qreal s = 70.0; s < kWidth - 70.0; s += stride, ++step) {
      const qreal x = leftToRight ? s : kWidth - s;
      const qreal k = 2.0 * kPi / wavelength;
      const qreal y = baseY + amplitude * std::sin(k * x + phase);
      // Direction of travel along the wave.
      const qreal slope = amplitude * k * std::cos(k * x + phase);
      qreal angle = std::atan2(slope, 1.0) * 180.0 / kPi;
      if (!leftToRight) {
        angle += 180.0;
      }
      const bool leftFoot = step % 2 == 0;
      QTransform t;
      t.translate(x, y);
      t.rotate(angle + 90.0);  // local -y now points along travel
      t.translate(leftFoot ? -13.0 : 13.0, 0.0);
      t.scale(leftFoot ? -1.0 : 1.0, 1.0);
      p.setTransform(t);
      p.drawPath(foot);
    }
  }
  p.resetTransform();
}

struct Template {
  const char* fileName;
  std::function<void(QPainter&)> draw;
};

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tav-wbtemplete <output folder>\n");
    return 2;
  }
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(outDir)) {
    std::fprintf(stderr, "tav-wbtemplete: cannot create %s\n", argv[1]);
    return 1;
  }

  const std::vector<Template> templates = {
      {"whitepaper.png", whitePaper}, {"charactergrid.png", characterGrid},
      {"pinyin.png", pinyin},         {"stationery.png", stationery},
      {"english.png", english},       {"footsteps.png", footsteps},
  };

  int failures = 0;
  for (const Template& t : templates) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing);
      t.draw(painter);
    }
    const QString path = QDir(outDir).filePath(QString::fromLatin1(t.fileName));
    if (!image.save(path, "PNG")) {
      std::fprintf(stderr, "tav-wbtemplete: cannot write %s\n", qPrintable(path));
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
