// bench-whiteboard: how quickly a finished stroke reaches another member's
// board through the real MCU on loopback, and how long a newcomer waits for
// a full board.
//   bench-whiteboard [--members N] [--strokes N] [--points N] [--shapes N]
// In one process: the service, message server and MCU; the teacher's board
// (the drawer) and a student's board (the receiver), each with its own media
// library; N - 2 further members as bare media library clients that receive
// every stroke too, logging in in waves of 8 (the setup time is printed).
// The drawer draws --strokes free-hand strokes of --points mouse events each;
// the time from the release to the end of the replay on the receiver is
// measured per stroke. Then the drawer's board is filled to
// --shapes shapes and a newcomer joins: the time until its board holds them
// all. Run it offscreen: QT_QPA_PLATFORM=offscreen bench-whiteboard.
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "AnnotationControl.h"
#include "BoardMember.h"
#include "InProcessServers.h"
#include "MediaEventBridge.h"
#include "RoomMessageTypes.h"
#include "TestCredentials.h"
#include "VWPaintWidget.h"
#include "VWShapeDigest.h"
#include "mcu/server.h"

namespace {

QTextStream out(stdout);
constexpr quint32 kRoom = 1001;
constexpr quint32 kTeacher = 10001;
constexpr quint32 kReceiver = 10003;

// Sleeps in the event loop between events (a ticking timer bounds each sleep),
// so the waiting GUI thread leaves the cores to the MCU and the members.
bool waitFor(const std::function<bool()>& condition, int ms = 60000) {
  QElapsedTimer timer;
  timer.start();
  QTimer tick;
  tick.start(2);
  while (!condition()) {
    if (timer.elapsed() > ms)
      return false;
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

void mouse(QWidget* w, QEvent::Type type, QPointF p) {
  QMouseEvent e(type, p, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

int intArg(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0)
      return std::max(1, std::atoi(argv[i + 1]));
  return fallback;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, size_t(std::ceil(p / 100.0 * double(v.size()))) - 1);
  return v[i];
}

// A member that only listens: a media library client logged in to the room.
struct Listener {
  MediaEventBridge observer;
  Libpavo* media = nullptr;
  Listener(quint32 id, quint16 port) {
    const std::string credential = testsupport::testCredential(id, kRoom, 2);
    media = Libpavo::create(&observer, id, kRoom, "127.0.0.1", port, user_role_student,
                            credential.c_str());
  }
  ~Listener() { Libpavo::destory(media); }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                     : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  const int members = std::max(2, intArg(argc, argv, "--members", 2));
  const int strokes = intArg(argc, argv, "--strokes", 100);
  const int points = intArg(argc, argv, "--points", 200);
  const int shapes = intArg(argc, argv, "--shapes", 500);

  testsupport::InProcessServers servers(testsupport::InProcessServers::kWithMcu);
  if (!servers.started()) {
    out << "servers did not start\n";
    return 1;
  }
  const quint16 port = servers.mcuPort();
  QElapsedTimer setupClock;
  setupClock.start();
  auto drawer = std::make_unique<BoardMember>(kTeacher, RoomContext::kTeacher, kTeacher, kRoom,
                                              port, testsupport::testCredential(kTeacher, kRoom, 1));
  if (!waitFor([&] { return drawer->connected(); })) {
    out << "the drawer did not connect\n";
    return 1;
  }
  drawer->startClass();
  waitFor([&] { return drawer->session().classInProgress(); });
  auto receiver =
      std::make_unique<BoardMember>(kReceiver, RoomContext::kStudent, kTeacher, kRoom, port,
                                    testsupport::testCredential(kReceiver, kRoom, 2));
  if (!waitFor([&] { return receiver->connected() && receiver->session().classInProgress(); })) {
    out << "the receiver did not join the class\n";
    return 1;
  }
  const auto listed = [&](int count) {
    for (const auto& room : servers.mcu().rooms())
      if (room.room_id == kRoom)
        return int(room.members.size()) >= count;
    return false;
  };
  // The listeners come in waves, each once the one before has logged in: they all share one
  // address, and the MCU takes at most 16 sessions from an address that have not joined or
  // logged in yet (its defence against floods). All at once, most would be refused and try
  // again only after their refused connection times out.
  constexpr int kWave = 8;
  std::vector<std::unique_ptr<Listener>> listeners;
  while (int(listeners.size()) < members - 2) {
    const int wave = std::min(kWave, members - 2 - int(listeners.size()));
    for (int i = 0; i < wave; ++i)
      listeners.push_back(std::make_unique<Listener>(20000 + quint32(listeners.size()), port));
    if (!waitFor([&] { return listed(2 + int(listeners.size())); })) {
      out << "the listeners did not log in to the MCU\n";
      return 1;
    }
  }
  out << "setup: " << members << " members logged in to the MCU in " << setupClock.elapsed()
      << " ms\n";

  drawer->annotation().btnAnnotation_clicked(true);
  if (!waitFor([&] {
        return drawer->whiteboard().ownsAnnotation() &&
               receiver->session().room().annotatingId == kTeacher;
      })) {
    out << "the drawer did not get the right to write\n";
    return 1;
  }

  // The receiver's replay of a stroke ends with its release message.
  QElapsedTimer clock;
  clock.start();
  qint64 replayed = -1;
  receiver->whiteboard().context().handleRoomMessages(
      {ANNO_POINT}, receiver.get(), [&](const QJsonObject& msg) {
        if (msg.value(KEY_CONTENT).toInt() == 3)
          replayed = clock.nsecsElapsed();
      });

  QWidget* canvas = &drawer->canvas();
  const QSizeF size = canvas->size();
  std::vector<double> latencies;
  for (int s = 0; s < strokes; ++s) {
    const double y0 = 0.1 + 0.8 * (s % 17) / 17.0;
    mouse(canvas, QEvent::MouseButtonPress, {size.width() * 0.1, size.height() * y0});
    for (int i = 1; i < points - 1; ++i) {
      const double t = double(i) / points;
      mouse(canvas, QEvent::MouseMove,
            {size.width() * (0.1 + 0.8 * t), size.height() * (y0 + 0.05 * std::sin(t * 12))});
    }
    replayed = -1;
    const qint64 released = clock.nsecsElapsed();
    mouse(canvas, QEvent::MouseButtonRelease, {size.width() * 0.9, size.height() * y0});
    if (!waitFor([&] { return replayed >= 0; }, 10000)) {
      out << "stroke " << s << " never arrived\n";
      return 1;
    }
    latencies.push_back(double(replayed - released) / 1e6);
  }
  waitFor([&] { return receiver->digest() == drawer->digest(); }, 10000);
  out << "members " << members << ", " << strokes << " strokes of " << points
      << " points: release to replayed p50 " << percentile(latencies, 50) << " ms, p99 "
      << percentile(latencies, 99) << " ms, max " << percentile(latencies, 100) << " ms"
      << (receiver->digest() == drawer->digest() ? "" : "  (BOARDS DIFFER)") << "\n";

  // A full board for a newcomer: free-hand strokes and the other kinds.
  vw::VWPaintWidget& board = drawer->canvas();
  for (int i = board.shapeList().size(); i < shapes; ++i) {
    const int type = (i % 5) + 1;
    board.setShape(type, 1 + i % 5, (i * 37) % 256, (i * 91) % 256, (i * 53) % 256, 255);
    const double x = (i % 23) / 23.0, y = (i % 19) / 19.0;
    board.beginShape({x, y});
    for (int k = 1; k <= 20; ++k)
      board.continueShape({x + k * 0.004, y + 0.03 * std::sin(k)});
    board.finishShape();
  }
  const int total = board.shapeList().size();
  const qint64 joining = clock.nsecsElapsed();
  auto newcomer = std::make_unique<BoardMember>(10004, RoomContext::kStudent, kTeacher, kRoom,
                                                port, testsupport::testCredential(10004, kRoom, 2));
  qint64 connectedAt = -1;
  const bool full = waitFor([&] {
    if (connectedAt < 0 && newcomer->connected())
      connectedAt = clock.nsecsElapsed();
    return newcomer->canvas().shapeList().size() >= total;
  });
  const qint64 done = clock.nsecsElapsed();
  out << "newcomer: " << total << " shapes " << (full ? "received" : "NOT received") << " in "
      << double(done - joining) / 1e6 << " ms from creation (" << double(done - connectedAt) / 1e6
      << " ms after its media server login), boards "
      << (newcomer->digest() == drawer->digest() ? "equal" : "DIFFER") << "\n";
  out.flush();
  newcomer.reset();
  receiver.reset();
  listeners.clear();
  drawer.reset();
  return 0;
}
