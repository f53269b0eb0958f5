#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "ClassroomRig.h"
#include "FakePhone.h"
#include "PhoneAddresses.h"
#include "PhoneAssistant.h"
#include "PhoneLink.h"
#include "Prompt.h"
#include "QRViewForm.h"
#include "RoomMessage.h"
#include "SharedAreaView.h"
#include "SharingCliServer.h"
#include "VWPaintWidget.h"
#include "Whiteboard.h"
#include "platform/tcp.h"

namespace {

using phonewire::packet;

const std::string kSecret = "00112233445566778899aabbccddeeff";

// A port whose next one is free too, on loopback.
quint16 freePortPair() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int probe = platform::tcpListen("127.0.0.1", 0, 1);
    const quint16 port = platform::tcpLocalPort(probe);
    platform::tcpClose(probe);
    if (port == 0 || port >= 65000)
      continue;
    const int next = platform::tcpListen("127.0.0.1", quint16(port + 1), 1);
    if (next >= 0) {
      platform::tcpClose(next);
      return port;
    }
  }
  return 0;
}

TEST(SharingCliServer, TakesTheNextFreePortAndLetsInOnlyItsSecret) {
  const quint16 taken = freePortPair();
  ASSERT_NE(taken, 0);
  const int occupant = platform::tcpListen("127.0.0.1", taken, 1);
  ASSERT_GE(occupant, 0);
  QTemporaryDir data;
  SharingCliServer server(data.path());
  QSignalSpy connects(&server, &SharingCliServer::signal_ClientConnect);
  QSignalSpy received(&server, &SharingCliServer::signal_threadRecvData);
  ASSERT_EQ(server.start({"127.0.0.1"}, QString::fromStdString(kSecret), taken), 0);
  EXPECT_EQ(server.port(), taken + 1);
  platform::tcpClose(occupant);

  // Strangers: a wrong secret, garbage, a packet other than the hello first.
  FakePhone wrong(server.port(), "ffeeddccbbaa99887766554433221100");
  EXPECT_TRUE(wrong.waitClosed());
  FakePhone garbage(server.port());
  garbage.send(phonewire::json_head(phonewire::kJson, 1u << 30));
  EXPECT_TRUE(garbage.waitClosed());
  FakePhone eager(server.port());
  eager.send(phonewire::board_request() + phonewire::hello_packet(kSecret));
  EXPECT_TRUE(eager.waitClosed());
  EXPECT_EQ(connects.count(), 0);
  EXPECT_EQ(received.count(), 0) << "a stranger is no news to the classroom";

  // What comes with the hello is read after it: the board request behind it.
  FakePhone phone(server.port());
  phone.send(phonewire::hello_packet(kSecret) + phonewire::board_request());
  ASSERT_TRUE(
      testsupport::waitUntil([&] { return connects.count() == 1 && received.count() == 1; }));
  EXPECT_EQ(received[0][0].toInt(), SharingCliServer::kBoardRequest);
  const QString big(10000, QLatin1Char('x'));
  server.sendJson6(QJsonObject{{"typeId", "0"}, {"content", big}});
  const packet* json =
      phone.waitFor([](const packet& p) { return p.type == phonewire::kRoomJson; });
  ASSERT_TRUE(json);
  EXPECT_EQ(FakePhone::json(*json).value("content").toString(), big);
  ASSERT_TRUE(phone.roundTrip());

  // A file named like a path lands in the folder for received files, under a name of its own.
  phone.send(phonewire::packet_head(phonewire::kFile, phonewire::body_descriptor(3, "../../x", 0)) +
             "abc");
  ASSERT_TRUE(testsupport::waitUntil([&] { return received.count() == 2; }));
  EXPECT_EQ(received[1][0].toInt(), SharingCliServer::kFileReceived);
  const QFileInfo saved(received[1][1].toString());
  EXPECT_EQ(saved.absolutePath(), QDir(data.path() + "/tempData").absolutePath());
  EXPECT_EQ(saved.size(), 3);

  // A header announcing 1 GiB ends the connection, and the classroom hears the phone went.
  phone.send(phonewire::json_head(phonewire::kJson, 1u << 30));
  EXPECT_TRUE(phone.waitClosed());
  ASSERT_TRUE(testsupport::waitUntil([&] { return received.count() == 3; }));
  EXPECT_EQ(received[2][1].toString(), QStringLiteral("{\"typeId\": \"1000\"}"));
}

// A classroom with its whiteboard and the phone part, the class running,
// this member its teacher.
struct PhoneRig {
  static constexpr quint32 kTeacher = 10001;

  struct PlainArea : SharedAreaView {
    QLabel label;
    PlainArea() { label.resize(800, 450); }
    QWidget* sharedArea() const override { return const_cast<QLabel*>(&label); }
    QRect pictureRect() const override { return label.rect(); }
    QPixmap shownPixmap() const override { return QPixmap(); }
    bool screenShareMode() const override { return false; }
  };

  PhoneRig() : rig(kTeacher, kTeacher) {
    rig.add(kTeacher, "老师", "王老师");
    rig.add(20002, "学生");
    rig.session.setOwnRole(RoomContext::kTeacher, false);
    rig.connectMedia();
    rig.context.provide<SharedAreaView>(&area);
    rig.session.classStarted(kTeacher);
    board = std::make_unique<Whiteboard>(rig.context, area);
    phone = std::make_unique<PhoneAssistant>(rig.context);
    phone->setDataFolder(data.path());
    phone->setFirstPort(freePortPair());
  }
  ~PhoneRig() {
    phone.reset();
    board.reset();
  }

  // Pairs and connects a phone with the secret of the QR code.
  std::unique_ptr<FakePhone> connectPhone() {
    phone->pair();
    const auto pairing = phonewire::parse_pairing(phone->form()->text().toStdString());
    if (!pairing || pairing->hosts.empty())
      return nullptr;
    return std::make_unique<FakePhone>(pairing->port, pairing->secret,
                                       QString::fromStdString(pairing->hosts.front()));
  }

  QTemporaryDir data;
  ClassroomRig rig;
  PlainArea area;
  std::unique_ptr<Whiteboard> board;
  std::unique_ptr<PhoneAssistant> phone;
};

QJsonObject point(int phase, double x = 0, double y = 0) {
  QJsonObject msg{{"typeId", 100}, {"content", phase}};
  if (phase != 3) {
    msg.insert("x", x);
    msg.insert("y", y);
  }
  return msg;
}

TEST(PhoneAssistant, ThePhoneSpeaksAsTheOwnMemberAndDrawsOnlyWithTheRight) {
  PhoneRig r;
  QJsonArray dispatched;
  QObject owner;
  r.rig.context.handleRoomMessages({MSG_CHAT_TEXT}, &owner,
                                   [&](const QJsonObject& msg) { dispatched.append(msg); });
  Prompt::instance()->setText(QString());
  auto phone = r.connectPhone();
  ASSERT_TRUE(phone && phone->connected());
  ASSERT_TRUE(testsupport::waitUntil(
      [] { return Prompt::instance()->text() == QStringLiteral("与手机助手连接成功！"); }));
  // The class's owner, nobody writing, the canvas hidden: 6.
  const packet* rights =
      phone->waitFor([](const packet& p) { return p.type == phonewire::kNumber; });
  ASSERT_TRUE(rights);
  EXPECT_EQ(rights->number, 6);

  // An empty board and nobody writing: the board request brings nothing.
  size_t mark = phone->packets.size();
  phone->send(phonewire::board_request());
  ASSERT_TRUE(phone->roundTrip());
  EXPECT_EQ(phone->packets.size(), mark + 1) << "only the keep-alive answer";

  // Chat goes to the room as this member, whoever the phone said it was.
  r.rig.channel.sent.clear();
  phone->sendJson(phonewire::kRoomJson, {{"typeId", "0"},
                                         {"content", "手机上的问候"},
                                         {"sendUserId", 20002},
                                         {"sendUsername", "刘小红"}});
  ASSERT_TRUE(testsupport::waitUntil([&] { return !r.rig.channel.sent.isEmpty(); }));
  const QJsonObject chat = QJsonDocument::fromJson(r.rig.channel.sent[0].text).object();
  EXPECT_EQ(chat.value("content").toString(), QStringLiteral("手机上的问候"));
  EXPECT_EQ(roommsg::senderOf(chat).value_or(0), PhoneRig::kTeacher);
  EXPECT_NE(chat.value("sendUsername").toString(), QStringLiteral("刘小红"));
  ASSERT_EQ(dispatched.size(), 1) << "shown here as well";

  // "78" is shown on the PC and stays there.
  r.rig.channel.sent.clear();
  r.rig.peer.sent.clear();
  phone->sendJson(phonewire::kRoomJson, {{"typeId", "78"}, {"content", "来自手机"}});
  ASSERT_TRUE(testsupport::waitUntil(
      [] { return Prompt::instance()->text() == QStringLiteral("来自手机"); }));
  EXPECT_TRUE(r.rig.channel.sent.isEmpty());
  EXPECT_TRUE(r.rig.peer.sent.isEmpty());

  // Without the board-writing right the phone's stroke goes nowhere.
  auto stroke = [&] {
    for (const QJsonObject& msg : {point(1, 0.1, 0.1), point(2, 0.5, 0.5), point(3)})
      phone->sendJson(phonewire::kJson, msg);
    return phone->roundTrip();
  };
  ASSERT_TRUE(stroke());
  EXPECT_TRUE(r.rig.peer.sent.isEmpty());
  EXPECT_TRUE(r.board->canvas()->shapeList().isEmpty());

  // With it, the stroke goes to everybody as this member's and is drawn here.
  mark = phone->packets.size();
  r.rig.session.setAnnotating(PhoneRig::kTeacher);
  ASSERT_TRUE(phone->waitFor(
      [](const packet& p) { return p.type == phonewire::kNumber && p.number == 3; }, mark));
  ASSERT_TRUE(stroke());
  ASSERT_TRUE(testsupport::waitUntil([&] { return r.board->canvas()->shapeList().size() == 1; }));
  {
    QMutexLocker lock(&r.rig.peer.mutex);
    ASSERT_EQ(r.rig.peer.sent.size(), 3);
    for (const PeerSend& s : r.rig.peer.sent)
      EXPECT_EQ(roommsg::senderOf(QJsonDocument::fromJson(s.data).object()).value_or(0),
                PhoneRig::kTeacher);
  }
  // And the phone asking for the board gets the pen and that shape.
  mark = phone->packets.size();
  phone->send(phonewire::board_request());
  const packet* shape = phone->waitFor(
      [](const packet& p) {
        return p.type == phonewire::kJson && FakePhone::json(p).value("typeId").toInt() == 109;
      },
      mark);
  ASSERT_TRUE(shape);
  EXPECT_EQ(FakePhone::json(phone->packets[mark]).value("typeId").toInt(), 111);
  EXPECT_FALSE(FakePhone::json(*shape).contains("sendUserId"));

  // The phone going away ends the link.
  phone->close();
  ASSERT_TRUE(testsupport::waitUntil(
      [] { return Prompt::instance()->text() == QStringLiteral("与手机助手断开连接！"); }));
  EXPECT_FALSE(r.phone->paired());
  EXPECT_EQ(r.rig.context.find<PhoneLink>(), nullptr);
}

TEST(PhoneAssistant, PairingAddressesAndRightsCodes) {
  using A = platform::NetworkAdapter;
  auto adapter = [](std::string name, std::string description, int type, int status,
                    std::vector<std::string> ips, bool loopback = false) {
    A a;
    a.name = name;
    a.description = description;
    a.type = type;
    a.operStatus = status;
    a.ipv4 = ips;
    a.loopback = loopback;
    return a;
  };
  const A lo = adapter("lo", "Virtual network adapter", A::kOther, A::kDown, {"127.0.0.1"}, true);
  const A wifi =
      adapter("wlan0", "Wireless network adapter", A::kWifi, A::kOperational, {"192.168.1.20"});
  const A vbox = adapter("vboxnet0", "VirtualBox Host-Only Virtual adapter", A::kEthernet,
                         A::kOperational, {"192.168.56.1"});
  const A cable = adapter("eth0", "Network adapter", A::kEthernet, A::kDown, {"10.0.0.5"});
  const A linkLocal = adapter("eth1", "Network adapter", A::kEthernet, A::kDown, {"169.254.3.3"});
  EXPECT_EQ(phone::pairingAddresses({lo, wifi, vbox, cable}), QStringList{"192.168.1.20"});
  EXPECT_EQ(phone::pairingAddresses({lo, vbox, cable, linkLocal}),
            (QStringList{"192.168.56.1", "10.0.0.5"}));
  EXPECT_EQ(phone::pairingAddresses({lo}), QStringList{"127.0.0.1"});

  RoomContext room;
  room.isOwner = true;
  room.classInProgress = true;
  EXPECT_EQ(PhoneAssistant::rightsCode(room, 1, true), 5);
  EXPECT_EQ(PhoneAssistant::rightsCode(room, 1, false), 6);
  room.screenSharerId = 1;
  EXPECT_EQ(PhoneAssistant::rightsCode(room, 1, false), 1) << "the sharer with the canvas hidden";
  room.annotatingId = 1;
  EXPECT_EQ(PhoneAssistant::rightsCode(room, 1, true), 3);
  room = RoomContext{};
  room.annotatingId = 1;
  EXPECT_EQ(PhoneAssistant::rightsCode(room, 1, true), 2);
  EXPECT_EQ(PhoneAssistant::rightsCode(room, 2, true), 0);
}

}  // namespace
