// bench-video-paint: what one received video frame costs the client's GUI thread, for the
// two layouts the media library can deliver: taking the frame into a tile's render widget
// and painting it into the widget's backing image, 640x480 frames into a students' tile
// (184x138) and into the main window (360x270).
//   bench-video-paint [--frames N]
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <cstring>
#include <vector>

#include "VideoRenderWidget.h"

namespace {

// A moving gradient, so nothing is cached between frames.
void fill(std::vector<uint8_t>& pixels, int w, int h, int bpp, int frame) {
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t r = uint8_t(x + frame), g = uint8_t(y * 2), b = uint8_t(x ^ y);
      uint8_t* p = &pixels[(size_t(y) * w + x) * bpp];
      if (bpp == 3) {
        p[0] = r;
        p[1] = g;
        p[2] = b;
      } else {
        const uint32_t word = 0xff000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
        std::memcpy(p, &word, 4);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  int frames = 600;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--frames") == 0)
      frames = std::atoi(argv[++i]);
  QTextStream out(stdout);
  const int w = 640, h = 480;
  for (const QSize target : {QSize(184, 138), QSize(360, 270)}) {
    for (int bpp : {3, 4}) {
      VideoRenderWidget widget;
      widget.resize(target);
      QImage surface(target, QImage::Format_ARGB32_Premultiplied);
      std::vector<uint8_t> pixels(size_t(w) * h * bpp);
      qint64 takeNs = 0, paintNs = 0;
      for (int f = 0; f < frames; ++f) {
        fill(pixels, w, h, bpp, f);
        QElapsedTimer clock;
        clock.start();
        widget.showFrame(pixels.data(), w, h, bpp);
        takeNs += clock.nsecsElapsed();
        clock.restart();
        widget.render(&surface);
        paintNs += clock.nsecsElapsed();
      }
      out << QString("%1x%2 into %3x%4, %5 bytes per pixel: take %6 us, paint %7 us, "
                     "together %8 us per frame\n")
                 .arg(w)
                 .arg(h)
                 .arg(target.width())
                 .arg(target.height())
                 .arg(bpp)
                 .arg(takeNs / 1000.0 / frames, 0, 'f', 1)
                 .arg(paintNs / 1000.0 / frames, 0, 'f', 1)
                 .arg((takeNs + paintNs) / 1000.0 / frames, 0, 'f', 1);
      out.flush();
    }
  }
  return 0;
}
