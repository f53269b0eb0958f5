// The servers a client test talks to, in the test's own process on ephemeral
// loopback ports: the service with its demo data, the message server and, when
// asked for, the MCU. They share testsupport::kTestSecret (TestCredentials.h) as
// their internal token.
#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace mcu {
class Server;
}
namespace msgserver {
class Server;
}
namespace tavsvc {
class Service;
}

namespace testsupport {

class InProcessServers {
public:
  // kWithTwoMcus: the service hands each room one of two MCUs, not one that stopped answering.
  enum Media { kNoMcu, kWithMcu, kWithTwoMcus };
  // Whether the message server hands chat to the service (which stores it for
  // the history and refuses muted members' chat) or only relays it.
  enum Chat { kChatRelayed, kChatStored };
  // Whether the message server and the MCU follow the service's removals from rooms (a
  // removed member is cut off there at once and kept out while its ban lasts) or leave
  // removals to the clients.
  enum Moderation { kModerationByClients, kModerationEnforced };
  // Several message servers: the service hands each room and lobby one of
  // them, a live one (they do not relay to each other: no NATS here).
  enum MsgNodes { kOneMsgNode = 1, kTwoMsgNodes = 2 };
  explicit InProcessServers(Media media = kNoMcu, Chat chat = kChatRelayed,
                            Moderation moderation = kModerationByClients,
                            MsgNodes nodes = kOneMsgNode);
  ~InProcessServers();

  bool started() const { return started_; }
  // "127.0.0.1:port" of the service, as the client's settings name it.
  QString host() const;
  quint16 msgPort() const { return msgPort_; }
  // The message servers' ports (node 0 is msgPort()).
  quint16 msgPortOf(int node) const { return node == 0 ? msgPort_ : msgPort2_; }
  // Stops a message server, as a node dying would.
  void stopMsgNode(int node);
  quint16 mcuPort(int which = 0) const { return which == 0 ? mcuPort_ : mcu2Port_; }
  mcu::Server& mcu(int which = 0) { return which == 0 ? *mcu_ : *mcu2_; }
  // The MCU stops as if its machine had gone.
  void stopMcu(int which);
  msgserver::Server& msg() { return *msg_; }
  // Messages the message server relayed so far.
  quint64 relayed() const;
  // Requests the service received for this path ("/uds/upload/...") so far.
  int requestCount(const QString& path) const;
  // Where the service keeps uploaded files (the paths below "uds/upload/").
  QString uploadsDir() const;
  void stopService();

private:
  QTemporaryDir dir_;
  mutable QMutex requestsMutex_;
  QHash<QString, int> requests_;
  std::unique_ptr<msgserver::Server> msg_;
  std::unique_ptr<msgserver::Server> msg2_;
  quint16 msgPort2_ = 0;
  std::unique_ptr<mcu::Server> mcu_, mcu2_;
  std::unique_ptr<tavsvc::Service> service_;
  quint16 msgPort_ = 0;
  quint16 mcuPort_ = 0, mcu2Port_ = 0;
  bool started_ = false;
};

}  // namespace testsupport
