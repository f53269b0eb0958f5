#include "PhoneReport.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <cstdio>

#include "PhoneLinkClient.h"
#include "PhoneWindow.h"
#include "SharedView.h"
#include "VWPaintWidget.h"

PhoneReport::PhoneReport(PhoneWindow* window, QObject* parent)
    : QObject(parent),
      window_(window),
      input_(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this)) {
  PhoneLinkClient* link = window->link();
  auto address = [](const QString& host, quint16 port) {
    return host + QLatin1Char(':') + QString::number(port);
  };
  connect(link, &PhoneLinkClient::connecting, this, [this, address](const QString& h, quint16 p) {
    print(QStringLiteral("connecting ") + address(h, p));
  });
  connect(link, &PhoneLinkClient::connected, this, [this, address](const QString& h, quint16 p) {
    print(QStringLiteral("connected ") + address(h, p));
  });
  connect(link, &PhoneLinkClient::refused, this, [this] { print(QStringLiteral("refused")); });
  connect(link, &PhoneLinkClient::unreachable, this,
          [this] { print(QStringLiteral("unreachable")); });
  connect(link, &PhoneLinkClient::lost, this, [this] { print(QStringLiteral("lost")); });
  connect(link, &PhoneLinkClient::gaveUp, this, [this] { print(QStringLiteral("gave-up")); });
  connect(link, &PhoneLinkClient::rightsReceived, this,
          [this](int code) { print(QStringLiteral("rights %1").arg(code)); });
  connect(link, &PhoneLinkClient::strokeSent, this,
          [this] { print(QStringLiteral("sent stroke")); });
  connect(link, &PhoneLinkClient::chatSent, this, [this] { print(QStringLiteral("sent chat")); });
  connect(link, &PhoneLinkClient::photoSent, this, [this] { print(QStringLiteral("sent photo")); });
  connect(window, &PhoneWindow::shareMessageReceived, this, [this](const QJsonObject& msg) {
    print(QStringLiteral("state ") +
          QString::fromUtf8(QJsonDocument(msg).toJson(QJsonDocument::Compact)));
  });
  SharedView* view = window->sharedView();
  connect(view, &SharedView::shownChanged, this, [this](const QByteArray& sha, int rotation) {
    print(QStringLiteral("shown %1 %2").arg(QString::fromLatin1(sha)).arg(rotation));
  });
  connect(view, &SharedView::boardChanged, this, [this](int shapes, const QByteArray& digest) {
    print(QStringLiteral("board %1 %2").arg(shapes).arg(QString::fromLatin1(digest)));
  });
  connect(input_, &QSocketNotifier::activated, this, &PhoneReport::readInput);
}

void PhoneReport::print(const QString& line) {
  const QByteArray bytes = line.toUtf8() + '\n';
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
  std::fflush(stdout);
}

void PhoneReport::readInput() {
  char buffer[4096];
  const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (got <= 0) {  // whoever drove us went away
    input_->setEnabled(false);
    QCoreApplication::quit();
    return;
  }
  pending_.append(buffer, int(got));
  for (int end; (end = pending_.indexOf('\n')) >= 0;) {
    const QString line = QString::fromUtf8(pending_.left(end)).trimmed();
    pending_.remove(0, end + 1);
    if (!line.isEmpty() && !command(line))
      std::fprintf(stderr, "tav-phone: not a command: %s\n", line.toUtf8().constData());
  }
}

bool PhoneReport::command(const QString& line) {
  const int space = line.indexOf(QLatin1Char(' '));
  const QString verb = line.left(space);
  const QString rest = space < 0 ? QString() : line.mid(space + 1).trimmed();
  if (verb == QLatin1String("quit")) {
    QCoreApplication::quit();
    return true;
  }
  if (verb == QLatin1String("pair") && !rest.isEmpty()) {
    window_->pair(rest);
    return true;
  }
  if (verb == QLatin1String("chat")) {
    window_->sendChat(rest);
    return true;
  }
  if (verb == QLatin1String("photo") && !rest.isEmpty()) {
    window_->sendPhotoFile(rest);
    return true;
  }
  if (verb == QLatin1String("stroke"))
    return stroke(rest.split(QLatin1Char(' '), Qt::SkipEmptyParts));
  return false;
}

// The points go to the canvas as mouse events, so the drawing path a finger
// takes runs: a press at the first, moves, a release at the last.
bool PhoneReport::stroke(const QStringList& points) {
  vw::VWPaintWidget* canvas = window_->sharedView()->canvas();
  QList<QPointF> at;
  for (const QString& point : points) {
    const QStringList xy = point.split(QLatin1Char(','));
    bool okX = false, okY = false;
    const double x = xy.value(0).toDouble(&okX), y = xy.value(1).toDouble(&okY);
    if (xy.size() != 2 || !okX || !okY)
      return false;
    at << QPointF(x * canvas->width(), y * canvas->height());
  }
  if (at.isEmpty())
    return false;
  auto send = [canvas](QEvent::Type type, const QPointF& p) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, p, canvas->mapToGlobal(p.toPoint()), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(canvas, &event);
  };
  send(QEvent::MouseButtonPress, at.first());
  for (int i = 1; i < at.size(); ++i)
    send(QEvent::MouseMove, at[i]);
  send(QEvent::MouseButtonRelease, at.last());
  return true;
}
