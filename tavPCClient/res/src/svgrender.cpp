// Renders SVG files to PNG at the size written in each SVG's width/height.
// Authoring tool only: render.sh builds and runs it, the PNGs are committed.
// Usage: svgrender in.svg out.png [in.svg out.png ...]
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[]) {
  // Text in the welcome banners needs the font database, hence the app object.
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.isEmpty() || args.size() % 2 != 0) {
    std::fprintf(stderr, "usage: svgrender in.svg out.png [in.svg out.png ...]\n");
    return 2;
  }
  int failures = 0;
  for (int i = 0; i < args.size(); i += 2) {
    QSvgRenderer renderer(args[i]);
    if (!renderer.isValid()) {
      std::fprintf(stderr, "svgrender: cannot parse %s\n", qPrintable(args[i]));
      ++failures;
      continue;
    }
    QImage image(renderer.defaultSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                             QPainter::SmoothPixmapTransform);
      renderer.render(&painter);
    }
    if (!image.convertToFormat(QImage::Format_ARGB32).save(args[i + 1], "PNG")) {
      std::fprintf(stderr, "svgrender: cannot write %s\n", qPrintable(args[i + 1]));
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
