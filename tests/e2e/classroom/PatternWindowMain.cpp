// A program to be shared in tests: a window titled "图案窗口" that paints a
// known pattern (its left half in the chosen colour, its right half white,
// a black bar across the middle) and says on standard output what it shows:
//   window ID          its native window id, once it is on screen
//   painted R G B      a paint with that colour finished
// Commands on standard input: "color R G B", "quit" (end of input quits too).
#include <unistd.h>

#include <QApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QWidget>
#include <cstdio>

namespace {

void report(const QByteArray& line) {
  fwrite(line.constData(), 1, size_t(line.size()), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

class PatternWindow : public QWidget {
public:
  PatternWindow() {
    setWindowTitle(QStringLiteral("图案窗口"));
    resize(640, 360);
  }
  void setColor(const QColor& color) {
    color_ = color;
    update();
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.fillRect(QRect(0, 0, width() / 2, height()), color_);
    p.fillRect(QRect(0, height() / 2 - height() / 20, width(), height() / 10), Qt::black);
    report(QByteArray("painted ") + QByteArray::number(color_.red()) + ' ' +
           QByteArray::number(color_.green()) + ' ' + QByteArray::number(color_.blue()));
  }
  void showEvent(QShowEvent*) override {
    report(QByteArray("window ") + QByteArray::number(quint64(winId())));
  }

private:
  QColor color_{208, 16, 16};
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  PatternWindow window;
  window.show();
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QByteArray pending;
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[256];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
      QCoreApplication::quit();
      return;
    }
    pending.append(buffer, int(got));
    for (int end; (end = pending.indexOf('\n')) >= 0;) {
      const QList<QByteArray> words = pending.left(end).split(' ');
      pending.remove(0, end + 1);
      if (words.value(0) == "color" && words.size() == 4)
        window.setColor(QColor(words[1].toInt(), words[2].toInt(), words[3].toInt()));
      else if (words.value(0) == "quit")
        QCoreApplication::quit();
    }
  });
  return app.exec();
}
