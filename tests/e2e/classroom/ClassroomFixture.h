// The classroom window against the real service, message server and MCU on
// loopback: the servers, a media library member, and the fixture that signs in
// and opens the classroom as the lobby does.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <thread>

#include "Classroom.h"
#include "ClassroomContext.h"
#include "ClassroomEntryFor.h"
#include "DataFolder.h"
#include "FormBody.h"
#include "HttpRequest.h"
#include "InProcessServers.h"
#include "LocalConfig.h"
#include "LocalDatabase.h"
#include "LoginInfo.h"
#include "MainVideoBox.h"
#include "MediaControl.h"
#include "MediaEventBridge.h"
#include "MemberListWidget.h"
#include "PlayWnd.h"
#include "Prompt.h"
#include "QNMessageBox.h"
#include "RoomChannelClient.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "RoomMessenger.h"
#include "RoomSession.h"
#include "ServiceApi.h"
#include "SyncServiceCalls.h"
#include "TestCredentials.h"
#include "TestSupport.h"
#include "UserItem.h"
#include "VideoGroup.h"
#include "VideoRenderWidget.h"
#include "libcorda/velmsgs.h"
#include "mcu/server.h"
#include "recording_observer.h"

using testsupport::postAndWait;
using testsupport::TempHome;
using testsupport::waitUntil;

namespace {

constexpr quint32 kRoom = 1001;  // owned by "teacher"; "assistant" assists in it

// Service with demo data, message server and MCU, each on an ephemeral port.
struct Servers : testsupport::InProcessServers {
  explicit Servers(MsgNodes nodes = kOneMsgNode)
      : InProcessServers(kWithMcu, kChatStored, kModerationEnforced, nodes) {}
};
// The same with two message servers for the service to choose from.
struct TwoMsgNodeServers : Servers {
  TwoMsgNodeServers() : Servers(kTwoMsgNodes) {}
};
// Two MCUs for the service to spread rooms over (removals left to the clients there).
struct TwoMcuServers : testsupport::InProcessServers {
  TwoMcuServers() : InProcessServers(kWithTwoMcus, kChatStored, kModerationByClients) {}
};

// Another member: a media library client logged in to the room's MCU.
class Bot {
public:
  Bot(quint32 userId, quint16 mcuPort) {
    // Signed with the servers' secret, as the service would sign it.
    const std::string credential = testsupport::testCredential(userId, kRoom, 2);
    library_ = Libpavo::create(&observer_, userId, kRoom, "127.0.0.1", mcuPort, user_role_student,
                               credential.c_str());
    observer_.owner = library_;
  }
  ~Bot() { Libpavo::destory(library_); }
  Libpavo* library() const { return library_; }
  bool connected() {
    auto state = observer_.next_event(pavo_event_connect_state);
    return state && !state->args.empty() && state->args[0] == 1;
  }

private:
  pavo_test::recording_observer observer_;
  Libpavo* library_ = nullptr;
};

template <typename ServersT>
class ClassroomTestWith : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(servers_.started());
    QDir().mkpath(home_.clientDataFolder());
    DataFolder::setPath(home_.clientDataFolder());
    LocalDatabase::open(home_.clientDataFolder() + "tavQN");
    LocalConfig::instance()->setServerIP(servers_.host());
    LoginInfo::current() = LoginInfo();
  }
  void TearDown() override {
    if (classroom_) {
      LoginInfo::current().loggedInElsewhere = true;  // leave without the question
      classroom_->close();
      waitUntil([&] { return classroom_.isNull(); });
    }
    bots_.clear();
    waitUntil([] { return HttpRequest::pendingCount() == 0; });
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QNMessageBox*>(w))
        w->deleteLater();
    for (int i = 0; i < 3; ++i)
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    LocalDatabase::close();
    LoginInfo::current() = LoginInfo();
  }

  // Signs in as account, joins the room as the lobby does and opens the classroom.
  Classroom* enter(const QString& account) {
    ClassroomEntry entry =
        testsupport::classroomEntryFor(account, kRoom, servers_.mcuPort(), servers_.msgPort());
    if (entry.roomId == 0)
      return nullptr;
    if (convertPort_ != 0)
      entry.documentServer = ServerAddress::parse(QStringLiteral("127.0.0.1:%1").arg(convertPort_));
    if (videoPort_ != 0)
      entry.videoServer = ServerAddress::parse(QStringLiteral("127.0.0.1:%1").arg(videoPort_));
    classroom_ = new Classroom(entry);
    classroom_->show();
    return classroom_;
  }

  // The conversion server the classroom is told of (0: the service's).
  quint16 convertPort_ = 0;
  // The video server the classroom is told of (0: the service's).
  quint16 videoPort_ = 0;

  bool connected() {
    return waitUntil([&] { return classroom_ && classroom_->mcuConnected(); }) &&
           waitUntil([&] { return roomChannel() && roomChannel()->hasClient(); });
  }

  // Bots for these users join the MCU; the classroom lists each one.
  bool addBots(std::initializer_list<quint32> ids) {
    for (quint32 id : ids) {
      bots_.push_back(std::make_unique<Bot>(id, servers_.mcuPort()));
      if (!bots_.back()->connected())
        return false;
    }
    return waitUntil([&] {
      for (quint32 id : ids)
        if (!session().contains(id))
          return false;
      return true;
    });
  }

  // Rejects (or accepts) the next modal message box once it is shown.
  void answerNextBox(bool accept, QString* text = nullptr) {
    QTimer::singleShot(0, [accept, text] {
      waitUntil([] { return qobject_cast<QNMessageBox*>(QApplication::activeModalWidget()); },
                5000);
      auto* box = qobject_cast<QNMessageBox*>(QApplication::activeModalWidget());
      if (!box)
        return;
      if (text)
        *text = box->message();
      accept ? box->accept() : box->reject();
    });
  }

  // The window's parts, found as a user of the window would: by name.
  template <typename T>
  T* part(const char* name = nullptr) {
    return name ? classroom_->findChild<T*>(QLatin1String(name)) : classroom_->findChild<T*>();
  }
  RoomSession& session() { return *part<RoomSession>(); }
  MediaControl& control() { return *part<MediaControl>(); }
  MemberListWidget& memberList() { return *part<MemberListWidget>("memberList"); }
  VideoGroup& students() { return *part<VideoGroup>("studentVideos"); }
  RoomChannelClient* roomChannel() { return part<RoomChannelClient>("roomChannel"); }
  // As the media library announces it, from its own thread.
  void announce(int event, quint32 userId, int kind) {
    media_stream_t stream{userId, static_cast<uint32_t>(kind)};
    std::thread([&] { part<MediaEventBridge>()->on_media_event(event, &stream); }).join();
  }

  mcu::MemberInfo mcuMember(quint32 userId) {
    for (const mcu::RoomInfo& room : servers_.mcu().rooms())
      if (room.room_id == kRoom)
        for (const mcu::MemberInfo& m : room.members)
          if (m.user_id == userId)
            return m;
    return {};
  }

  ServersT servers_;
  TempHome home_;
  QPointer<Classroom> classroom_;
  std::vector<std::unique_ptr<Bot>> bots_;
};

using ClassroomTest = ClassroomTestWith<Servers>;

}  // namespace
