// The chat's two end-to-end figures through the real service and message
// server (in this process, on loopback): a text from the teacher until the
// last of N members shows it, and a 3 MB photo until a receiver shows its
// thumbnail. Every member is a chat of its own (room channel, panel).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "ChatMember.h"
#include "ChatMessageItem.h"
#include "DataFolder.h"
#include "FormBody.h"
#include "HttpRequest.h"
#include "InProcessServers.h"
#include "LocalConfig.h"
#include "LocalDatabase.h"
#include "LoginInfo.h"
#include "Sections.h"
#include "ServiceApi.h"
#include "SyncServiceCalls.h"
#include "TestCredentials.h"

namespace benchchat {
namespace {

constexpr quint32 kRoom = 1001;
constexpr quint32 kTeacher = 10001;

struct Options {
  int members = 50;
  int messages = 50;
  int photos = 10;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--members"))
      o.members = std::max(1, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--messages"))
      o.messages = std::max(1, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--photos"))
      o.photos = std::max(1, std::atoi(argv[i + 1]));
  }
  return o;
}

// Polls without sleeping, so the figures are not rounded up to a sleep.
bool waitFor(const std::function<bool()>& done, int limitMs = 60000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > limitMs)
      return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

QString ticketOf(const QString& account) {
  return testsupport::loginAs(account).ticket;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  const size_t at = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[at];
}

struct Room {
  testsupport::InProcessServers servers{testsupport::InProcessServers::kNoMcu,
                                        testsupport::InProcessServers::kChatStored};
  QTemporaryDir dir;
  std::vector<std::unique_ptr<ChatMember>> members;

  bool start() {
    if (!servers.started())
      return false;
    DataFolder::setPath(dir.path() + "/client/");
    QDir().mkpath(dir.path() + "/client");
    LocalDatabase::open(dir.path() + "/client/tavQN");
    LocalConfig::instance()->setServerIP(servers.host());
    return true;
  }

  ChatMember* add(quint32 id, int role, const QString& name, const QString& ticket) {
    ChatMember::Setup s;
    s.userId = id;
    s.role = role;
    s.ownerId = kTeacher;
    s.roomId = kRoom;
    s.name = name;
    s.ticket = ticket;
    s.credential = testsupport::testCredential(id, kRoom, role);
    s.msgHost = "127.0.0.1";
    s.msgPort = servers.msgPort();
    s.fileServer = servers.host();
    s.dataFolder = dir.path() + QStringLiteral("/member-%1/").arg(id);
    members.push_back(std::make_unique<ChatMember>(s));
    return members.back().get();
  }

  // Connected, and the first history page is in (it would show a message
  // that also arrives live a second time).
  bool allConnected() {
    return waitFor([&] {
      return std::all_of(members.begin(), members.end(), [](const auto& m) {
        return m->connected() && m->chat().historyPage() > 1;
      });
    });
  }
};

int countText(ChatMember& m, const QString& text) {
  int n = 0;
  for (const ChatMessageItem* item : m.chat().shownItems())
    n += item->entry().content == text;
  return n;
}

}  // namespace

int runText(int argc, char** argv) {
  const Options o = parse(argc, argv);
  Room room;
  if (!room.start()) {
    std::fprintf(stderr, "bench-chat: servers did not start\n");
    return 1;
  }
  LoginInfo::current().ticket = ticketOf("teacher");
  ChatMember* teacher =
      room.add(kTeacher, 1, QStringLiteral("王老师"), LoginInfo::current().ticket);
  std::vector<ChatMember*> receivers;
  for (int i = 0; i < o.members; ++i)
    receivers.push_back(room.add(20001 + i, 2, QStringLiteral("同学%1").arg(i + 1), QString()));
  if (!room.allConnected()) {
    std::fprintf(stderr, "bench-chat: members did not connect\n");
    return 1;
  }
  auto* edit = teacher->chat().findChild<QLineEdit*>("chatEdit");
  std::vector<double> lastShown;
  for (int k = 0; k < o.messages; ++k) {
    const QString text = QStringLiteral("消息%1").arg(k);
    edit->setText(text);
    QElapsedTimer t;
    t.start();
    teacher->chat().btnSendText_clicked();
    if (!waitFor([&] {
          return std::all_of(receivers.begin(), receivers.end(),
                             [&](ChatMember* m) { return countText(*m, text) == 1; });
        })) {
      std::fprintf(stderr, "bench-chat: message %d did not reach everybody\n", k);
      return 1;
    }
    lastShown.push_back(t.nsecsElapsed() / 1e6);
  }
  std::printf(
      "text, %d members, %d messages: shown at the last member p50 %.1f ms, p99 %.1f ms, max %.1f "
      "ms\n",
      o.members, o.messages, percentile(lastShown, 0.5), percentile(lastShown, 0.99),
      percentile(lastShown, 1.0));
  room.members.clear();
  LocalDatabase::close();
  return 0;
}

int runPhoto(int argc, char** argv) {
  const Options o = parse(argc, argv);
  Room room;
  if (!room.start()) {
    std::fprintf(stderr, "bench-chat: servers did not start\n");
    return 1;
  }
  const QString teacherTicket = ticketOf("teacher");
  const QString studentTicket = ticketOf("student1");
  LoginInfo::current().ticket = teacherTicket;
  ChatMember* teacher = room.add(kTeacher, 1, QStringLiteral("王老师"), teacherTicket);
  ChatMember* student = room.add(10003, 2, QStringLiteral("小明"), studentTicket);
  if (!room.allConnected()) {
    std::fprintf(stderr, "bench-chat: members did not connect\n");
    return 1;
  }
  // 1024 x 1024 of noise: a PNG of a little over 3 MB.
  QImage photo(1024, 1024, QImage::Format_RGB32);
  QRandomGenerator random(11);
  for (int y = 0; y < photo.height(); ++y)
    for (int x = 0; x < photo.width(); ++x)
      photo.setPixel(x, y, random.generate() | 0xff000000u);
  const QString path = room.dir.path() + "/photo.png";
  photo.save(path, "PNG");
  std::printf("photo: %.2f MB\n", QFileInfo(path).size() / 1e6);
  teacher->chat().setPictureChooser([&](QWidget*, const QString&) { return path; });

  std::vector<double> thumbShown;
  for (int k = 0; k < o.photos; ++k) {
    const int before = static_cast<int>(student->chat().items().size());
    teacher->chat().m_timerClockForCanSendPic_timeout();  // the 2 s guard is the user's, not ours
    QElapsedTimer t;
    t.start();
    teacher->chat().btnSendPicture_clicked();
    if (!waitFor([&] {
          const auto& items = student->chat().items();
          if (items.size() <= before)
            return false;
          auto* picture = items.last()->findChild<QLabel*>("chatPicture");
          return picture && picture->pixmap(Qt::ReturnByValue).size() == QSize(160, 160);
        })) {
      std::fprintf(stderr, "bench-chat: photo %d did not arrive\n", k);
      return 1;
    }
    thumbShown.push_back(t.nsecsElapsed() / 1e6);
    QThread::msleep(2);  // a new file name (milliseconds) for the next one
  }
  std::printf(
      "photo, %d sends: thumbnail shown at the receiver p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
      o.photos, percentile(thumbShown, 0.5), percentile(thumbShown, 0.99),
      percentile(thumbShown, 1.0));
  room.members.clear();
  LocalDatabase::close();
  return 0;
}

}  // namespace benchchat
