// Remembered accounts (table userInfo) and per-room settings (table settings)
// in the local database "tavQN". All calls use the default connection; when the
// database is not open they find nothing and write nothing.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

struct AccountRecord {
  QString userId;
  QString userName;
  QString password;  // decoded
  QString autoLogin;
  QString loginTime;  // "yyyyMMdd-hhmmsszzz"
};

namespace AccountStore {

// Newest login first.
QList<AccountRecord> readAccounts();

// Replaces the row of userId; the password is stored encoded.
bool writeAccount(quint32 userId, const QString& userName, const QString& password,
                  const QDateTime& loginTime = QDateTime::currentDateTime());

// Recording-area choice saved for a room ("contentArea" or
// "contentAndVideoArea"); empty when none was saved.
QString readRoomSetting(quint32 userId, quint32 roomId);
bool writeRoomSetting(quint32 userId, quint32 roomId, const QString& value);

}  // namespace AccountStore
