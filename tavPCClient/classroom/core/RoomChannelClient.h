// The classroom's connection to the message server on the room's channel
// (channel id = room id). The message library calls back on its own thread;
// this object only copies and emits, so receivers run on their own threads.
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>

#include "RoomChannel.h"
#include "libcorda/velmsgs.h"

class RoomChannelClient : public QObject, public RoomChannel, public velmsg::msg_observer {
  Q_OBJECT

public:
  // credential: the room-entry answer's word that userId may use roomId.
  RoomChannelClient(quint32 userId, quint32 roomId, const QString& credential,
                    QObject* parent = nullptr);
  ~RoomChannelClient() override;

  // (Re)creates the library client on host:port; an earlier one is destroyed first.
  void connectTo(const QString& host, quint16 port);
  // Destroys the library client; nothing is called back after it returns.
  void disconnectClient();
  bool hasClient() const;
  // The credential the next connectTo shows (a renewed one).
  void setCredential(const QString& credential) { credential_ = credential.toLatin1(); }
  // Times a client was created (the first connection and every re-creation).
  int connectCount() const { return connects_; }

  // RoomChannel: dropped while there is no client.
  void send(const QByteArray& text, const QByteArray& target) override;

  // velmsg::msg_observer (library thread)
  void recv_msg(const char* msg) override;
  void connect2msgs_state(int state) override;
  void disconnect_from_msgs() override;

signals:
  void messageArrived(QByteArray text);
  void __connect2msgs_state(int state);
  void __disconect_from_msg();

private:
  const quint32 userId_;
  const quint32 roomId_;
  QByteArray credential_;
  mutable QMutex clientMutex_;
  velmsg::velmsgs* client_ = nullptr;
  int connects_ = 0;
};
