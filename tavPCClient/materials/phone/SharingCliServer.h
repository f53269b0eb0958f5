// The classroom's server for the paired phone: listens on the addresses the
// pairing QR code shows, takes one phone at a time, and reads its packets on
// a thread of its own; what the phone sends reaches the classroom only as
// queued signals. A connection counts only once its first packet, within
// kHelloMs, brings the pairing secret; anything else is closed without a
// word to the classroom. Packets to the phone go through the connection's
// writer (send2cli), whole packets never interleaved.
#pragma once

#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <string>
#include <vector>

#include "phonewire/phone_packet.h"
#include "platform/tcp.h"

class send2cli;

class SharingCliServer : public QThread {
  Q_OBJECT

public:
  // What arrives from the phone, as signal_threadRecvData's type.
  enum Received { kFileReceived = 1, kBoardJson = 2, kRoomJson = 3, kBoardRequest = 4 };

  static constexpr quint16 kFirstPort = 2020;
  static constexpr quint16 kLastPort = 65530;
  static constexpr int kBacklog = 128;
  // A phone must say its secret this soon after connecting.
  static constexpr int kHelloMs = 10000;
  // A phone pings every few seconds; silence this long means it is gone.
  static constexpr int kIdleMs = 45000;
  // Packets read per second; more wait for the next second.
  static constexpr int kMaxPacketsPerSecond = 1000;
  // Bytes of received files kept per pairing.
  static constexpr qint64 kMaxReceivedBytes = 512ll << 20;
  // Bytes waiting for a phone that does not read before it is cut off.
  static constexpr qint64 kMaxQueuedBytes = 64ll << 20;

  // Received files go to dataFolder + "tempData/" (made if missing).
  explicit SharingCliServer(const QString& dataFolder, QObject* parent = nullptr);
  ~SharingCliServer() override;

  // Listens on every address at the first port from firstPort up that is
  // free on all of them, and starts the thread. -1 when already running or
  // no port up to kLastPort could be had; else 0.
  int start(const QStringList& addresses, const QString& secret, quint16 firstPort = kFirstPort);
  // Ends the connection and the listening, and joins the thread.
  void stop();
  quint16 port() const { return port_; }
  QString receivedFolder() const { return folder_; }

  // To the connected phone (dropped while none is); -1 when there is nothing
  // to send (an empty body, a missing or empty file).
  int sendJson(const QJsonObject& msg);   // type 4: board messages
  int sendJson6(const QJsonObject& msg);  // type 6: share control, room messages
  int sendFile(const QString& path);
  int sendInt(int n);

signals:
  void signal_threadRecvData(int type, QString content);
  void signal_ClientConnect();

protected:
  void run() override;

private:
  // Waits for the pairing secret; false (and the socket closed) otherwise.
  // What came after the hello stays in reader.
  bool hello(int socket, const QString& peer, phonewire::stream_reader& reader);
  // Reads the phone's packets until the connection ends; says why.
  QString receive(int socket, phonewire::stream_reader& reader);
  void endConnection();
  int sendJsonOf(quint32 type, const QJsonObject& msg);
  // One whole packet into the writer's queue.
  void enqueue(const std::vector<std::string>& pieces);
  QString saveFile(const std::string& body, const std::string& extension);
  void closeListening();

  const QString folder_;
  const QString prefix_;  // of received file names
  QString secret_;
  std::vector<int> listening_;
  quint16 port_ = 0;
  std::atomic<bool> running_{false};
  platform::SocketWait wake_;

  QMutex mutex_;  // the connection and its writer
  int connected_ = -1;
  send2cli* writer_ = nullptr;

  qint64 receivedBytes_ = 0;
  QString lastFile_;
  QString lastJson_;
};
