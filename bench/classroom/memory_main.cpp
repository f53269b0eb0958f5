// bench-classroom-memory: how much memory the client holds in the lobby, fresh and after
// each class, with two students publishing video and sound.
//   bench-classroom-memory [--cycles N] [--seconds S] [--default-heap]
// Starts tav-server (temporary data folder) and two pavo-bot students from the program's own
// folder, signs in as the teacher, and N times enters room 1001, starts the class, opens the
// students' cameras, lets S seconds of video play, stops the class and leaves. After every
// leave it gives freed memory back to the system (malloc_trim) and prints the resident size
// and the heap in use. --default-heap leaves out the client's heap settings, for
// comparison. Run it from build/bin under a display (xvfb-run) or offscreen.
#include <malloc.h>

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "ClassControl.h"
#include "ClassInformationWidget.h"
#include "Classroom.h"
#include "ClassroomContext.h"
#include "DataFolder.h"
#include "LocalConfig.h"
#include "LocalDatabase.h"
#include "LoginDialog.h"
#include "LoginInfo.h"
#include "MediaControl.h"
#include "QNMessageBox.h"
#include "RoomSession.h"
#include "UserDialog.h"
#include "libpavo/libpavo.h"
#include "platform/platform.h"

namespace {

QTextStream out(stdout);

bool waitFor(const std::function<bool()>& condition, int ms) {
  QDeadlineTimer deadline(ms);
  while (!condition()) {
    if (deadline.hasExpired())
      return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return true;
}

void pause(int ms) {
  waitFor([] { return false; }, ms);
}

// Resident size and heap in use, in MiB, after freed memory went back to the system.
void report(const QString& phase) {
  for (int i = 0; i < 3; ++i)
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  malloc_trim(0);
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
      resident = 0;
    std::fclose(f);
  }
  // Anonymous (heap, stacks, buffers) and file-backed (program and library code) parts.
  double anon = 0, file = 0;
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : status.readAll().split('\n')) {
      const QList<QByteArray> f = line.simplified().split(' ');
      if (f.size() >= 2 && f[0] == "RssAnon:")
        anon = f[1].toDouble() / 1024.0;
      else if (f.size() >= 2 && f[0] == "RssFile:")
        file = f[1].toDouble() / 1024.0;
    }
  }
  const struct mallinfo2 heap = mallinfo2();
  const double mib = 1024.0 * 1024.0;
  out << QString("%1  resident %2 MiB (anonymous %3, files %4)  heap in use %5 MiB\n")
             .arg(phase, -24)
             .arg(resident * 4096.0 / mib, 6, 'f', 1)
             .arg(anon, 6, 'f', 1)
             .arg(file, 5, 'f', 1)
             .arg((heap.uordblks + heap.hblkhd) / mib, 6, 'f', 1);
  out << QString("    malloc holds %1 MiB, threads %2\n")
             .arg((heap.arena + heap.hblkhd) / mib, 6, 'f', 1)
             .arg(QDir(QStringLiteral("/proc/self/task"))
                      .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                      .size());
  out.flush();
}

int freePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

}  // namespace

int main(int argc, char** argv) {
  // As the client starts, unless the default heap is asked for (to compare).
  bool defaultHeap = false;
  for (int i = 1; i < argc; ++i)
    defaultHeap |= std::strcmp(argv[i], "--default-heap") == 0;
  if (!defaultHeap)
    platform::returnFreedMemory();
  QApplication app(argc, argv);
  int cycles = 3;
  int seconds = 10;
  const QStringList args = app.arguments();
  for (int i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--cycles")
      cycles = args[++i].toInt();
    else if (args[i] == "--seconds")
      seconds = args[++i].toInt();
  }
  const QString bin = QCoreApplication::applicationDirPath();
  QDir::setCurrent(bin);  // the media library reads videoparam.conf from here
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  DataFolder::setPath(home.path() + "/.local/share/TavPcClient/");
  QDir().mkpath(DataFolder::path());
  LocalDatabase::open(DataFolder::path() + "tavQN");

  // The servers, with a port base below the ephemeral range.
  const int base = 20000 + freePort() % 20000;
  QProcess server;
  server.setProcessChannelMode(QProcess::MergedChannels);
  server.start(bin + "/tav-server", {"--data", home.path() + "/server", "--port-base",
                                     QString::number(base), "--no-demo-videos"});
  QByteArray serverLog;
  if (!waitFor(
          [&] {
            serverLog += server.readAll();
            return serverLog.contains("tav-server: running");
          },
          60000)) {
    QTextStream(stderr) << "tav-server did not start:\n" << serverLog;
    return 1;
  }
  std::vector<std::unique_ptr<QProcess>> bots;
  // The students sign in as the client does: the MCU lets in only members the service
  // admitted (a room credential from the room entry).
  const std::pair<int, const char*> students[] = {{10003, "student1"}, {10004, "student2"}};
  for (const auto& [student, account] : students) {
    auto bot = std::make_unique<QProcess>();
    bot->start(bin + "/pavo-bot",
               {"--service", QString("127.0.0.1:%1").arg(base), "--login", account, "--password",
                "123456", "--room", "1001", "--open", "audio,video"});
    QByteArray said;
    if (!waitFor(
            [&] {
              said += bot->readAllStandardOutput();
              return said.contains("media_open " + QByteArray::number(student) + " 1");
            },
            30000)) {
      QTextStream(stderr) << "pavo-bot " << student << " did not publish:\n" << said;
      return 1;
    }
    bots.push_back(std::move(bot));
  }

  LocalConfig::instance()->setServerIP(QString("127.0.0.1:%1").arg(base));
  auto* login = new LoginDialog;
  LoginDialog::setCurrent(login);
  login->show();
  login->accountBox()->setEditText("teacher");
  login->passwordEdit()->setText("123456");
  login->loginButton()->click();
  if (!waitFor([&] { return login->lobby() && login->lobby()->isVisible(); }, 20000)) {
    QTextStream(stderr) << "login failed\n";
    return 1;
  }
  UserDialog* lobby = login->lobby();
  waitFor([&] { return !lobby->createdCards().isEmpty(); }, 10000);
  pause(2000);
  report("lobby, fresh");

  for (int cycle = 1; cycle <= cycles; ++cycle) {
    ClassInformationWidget* card = nullptr;
    for (ClassInformationWidget* c : lobby->createdCards())
      if (c->roomId() == 1001)
        card = c;
    if (!card) {
      QTextStream(stderr) << "room 1001 is not in the lobby\n";
      return 1;
    }
    lobby->slot_EnterClassroom(card);
    if (!waitFor([&] { return lobby->classroom() && lobby->classroom()->mcuConnected(); }, 20000)) {
      QTextStream(stderr) << "the classroom did not connect\n";
      return 1;
    }
    QPointer<Classroom> room = lobby->classroom();
    auto* session = room->findChild<RoomSession*>();
    room->findChild<ClassControl*>()->btnStartClass_clicked();
    waitFor([&] { return session->classInProgress(); }, 10000);
    waitFor([&] { return session->contains(10003) && session->contains(10004); }, 40000);
    for (quint32 id : {10003u, 10004u})
      room->findChild<MediaControl*>()->onOperateVideo(id);
    pause(seconds * 1000);
    report(QString("class %1, running").arg(cycle));
    room->findChild<ClassroomContext*>()->classFloor().stopClass(10001);
    waitFor([&] { return !session->classInProgress(); }, 10000);
    // Leave as the user does: the leave button, then OK.
    QTimer::singleShot(0, [] {
      waitFor([] { return qobject_cast<QNMessageBox*>(QApplication::activeModalWidget()); }, 5000);
      if (auto* box = qobject_cast<QNMessageBox*>(QApplication::activeModalWidget()))
        box->accept();
    });
    room->close();
    waitFor([&] { return room.isNull() && lobby->isVisible(); }, 20000);
    pause(2000);
    report(QString("lobby, after class %1").arg(cycle));
  }

  for (auto& bot : bots) {
    bot->closeWriteChannel();
    bot->waitForFinished(10000);
  }
  server.terminate();
  server.waitForFinished(10000);
  return 0;
}
