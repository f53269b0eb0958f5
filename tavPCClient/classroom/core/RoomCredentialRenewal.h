// Asks the service again for the member's room credential, as entering the room
// does, when the message server or the MCU no longer takes the one it has (it
// expired, or the servers' key was replaced) or the media server was lost. The
// service's answer also says whether the member may still be in the room, and
// which MCU the room is on now (another one when its MCU died).
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

class RoomCredentialRenewal : public QObject {
  Q_OBJECT

public:
  // authCode: the private room's code the member was let in with ("" for others),
  // which the service asks for on every entry.
  RoomCredentialRenewal(quint32 roomId, quint32 userId, const QString& authCode = QString(),
                        QObject* parent = nullptr);

  // One renewal at a time: asking again while one is under way does nothing.
  void renew();
  bool busy() const { return busy_; }

signals:
  // The room's MCU as the answer names it; told before renewed.
  void mediaServerNamed(QString address, quint16 port);
  // chatServer: the message server the service names now ("host:port"; it may
  // be another node than the one the member was on).
  void renewed(QString credential, QString chatServer);
  // The service could not be reached (or answered nothing usable): try again later.
  void unreachable();
  // The service does not let the member in any more; removed: a teacher sent it away.
  void refused(QString why, bool removed);

private:
  void onAnswer(const QJsonObject& answer);

  const quint32 roomId_;
  const quint32 userId_;
  const QString authCode_;
  bool busy_ = false;
};
