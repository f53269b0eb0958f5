// The one-login channel: announces this login on the message server and
// notices when the same account announces a login from another address.
// Callbacks arrive on the message library's thread and only emit signals.
// The lobby holds the one instance, so the process has at most one client.
#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

#include "libcorda/velmsgs.h"

class ForOneLogin : public QObject, public velmsg::msg_observer {
  Q_OBJECT

public:
  static constexpr unsigned kChannel = 100000;

  // ownAddress: the address announced, this machine's own by default.
  explicit ForOneLogin(quint32 ownUserId, const QString& ownAddress = QString(),
                       QObject* parent = nullptr);
  ~ForOneLogin() override;

  // (Re)creates the client on host:port with the one-login credential of
  // LoginInfo::current(); the old one is destroyed.
  void connectTo(const QString& host, quint16 port);
  void disconnectClient();
  bool hasClient() const;

  // Sends this machine's login announcement; false when it could not be queued.
  bool announce();
  QString ownAddress() const { return ownAddress_; }

  // The announcement text as it goes on the wire (no blanks, no line feeds).
  static QByteArray announcement(quint32 userId, const QString& ownAddress);
  // True when text is another machine's announcement for userId.
  static bool isLoginElsewhere(const QByteArray& text, quint32 userId, const QString& ownAddress);

  // velmsg::msg_observer
  void recv_msg(const char* msg) override;
  void connect2msgs_state(int state) override;
  void disconnect_from_msgs() override;

signals:
  void signal_SelfLogin();
  void signal_disconnect_from_oneLogin();
  void _connect2msgs_state(int state);

private:
  mutable QMutex clientMutex_;
  velmsg::velmsgs* client_ = nullptr;
  const quint32 ownUserId_;
  const QString ownAddress_;  // read on the library's thread, so never changed
};
