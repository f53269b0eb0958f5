// The phone's end of the link to the classroom PC: connects to the addresses
// of a pairing text in turn, says hello with the secret, reads the PC's
// packets and sends the phone's. No widgets.
//
// The PC answers a wrong secret with nothing and closes, so a connection
// that ends before its first packet means the pairing is no longer valid.
// A link that drops is tried again a few times with growing pauses; the PC
// usually removes its server when the phone goes, so that mostly fails and
// the phone has to be paired again.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>

#include "phonewire/phone_packet.h"

class QTcpSocket;

class PhoneLinkClient : public QObject {
  Q_OBJECT
public:
  struct Timing {
    int connectTimeoutMs = 4000;  // per address
    int keepAliveMs = 10000;
    int silenceLimitMs = 30000;                  // nothing received for this long: the link is dead
    QList<int> retryPausesMs{1000, 3000, 6000};  // one reconnection round after each
  };

  explicit PhoneLinkClient(QObject* parent = nullptr);
  ~PhoneLinkClient() override;

  void setTiming(const Timing& timing) { timing_ = timing; }

  // Starts over with a pairing text; false (and nothing started) when the
  // text names no address and port.
  bool pair(const QString& text);
  // Ends the link without trying again.
  void leave();
  // Whether the PC has answered the hello on the current connection.
  bool isLinked() const { return state_ == State::Linked; }

  // A board message, type 4. The PC stamps its own member's id on what the
  // phone draws, so any "sendUserId" is taken out.
  bool sendBoardJson(QJsonObject msg);
  // A room message, type 6.
  bool sendRoomJson(const QJsonObject& msg);
  // A chat line to the class.
  bool sendChat(const QString& text);
  // A photo, type 3; extension ".jpg" or ".png".
  bool sendPhoto(const QByteArray& bytes, const QString& extension);

signals:
  void connecting(const QString& host, quint16 port);
  void connected(const QString& host, quint16 port);  // the first packet after the hello
  void refused();      // closed before any packet: wrong or expired secret
  void unreachable();  // no address of the pairing answered
  void lost();         // a working link dropped; reconnecting follows
  void gaveUp();       // reconnecting failed
  void rightsReceived(int code);
  void boardJsonReceived(const QJsonObject& msg);
  void roomJsonReceived(const QJsonObject& msg);
  void fileReceived(const QByteArray& bytes, const QString& extension);
  void strokeSent();
  void chatSent();
  void photoSent();

private:
  enum class State { Idle, Connecting, Greeting, Linked, Pausing };

  void startRound();
  void tryHost();
  void onSocketConnected();
  void onSocketGone();
  void onReadyRead();
  void roundFailed();
  void dropLink(const QString& why);
  void closeSocket();
  void handle(const phonewire::packet& packet);
  bool writePacket(const std::string& head, const QByteArray& body);

  Timing timing_;
  State state_ = State::Idle;
  phonewire::pairing pairing_;
  bool reconnecting_ = false;
  bool refusedOnce_ = false;  // a connection of this round closed before its first packet
  int hostIndex_ = 0;
  int retry_ = 0;
  QTcpSocket* socket_ = nullptr;
  std::unique_ptr<phonewire::stream_reader> reader_;
  QTimer connectTimer_;
  QTimer keepAliveTimer_;
  QTimer silenceTimer_;
  QTimer pauseTimer_;
};
