#include "AccountStore.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include "PasswordCodec.h"

namespace AccountStore {

QList<AccountRecord> readAccounts() {
  QList<AccountRecord> accounts;
  if (!QSqlDatabase::database().isOpen())
    return accounts;
  QSqlQuery query;
  if (!query.exec(QStringLiteral("select * from userInfo order by loginTime desc")))
    return accounts;
  while (query.next()) {
    AccountRecord record;
    record.userId = query.value(QStringLiteral("userId")).toString();
    record.userName = query.value(QStringLiteral("userName")).toString();
    record.password = PasswordCodec::decode(query.value(QStringLiteral("Pwd")).toString());
    record.autoLogin = query.value(QStringLiteral("autoLogin")).toString();
    record.loginTime = query.value(QStringLiteral("loginTime")).toString();
    accounts.append(record);
  }
  return accounts;
}

bool writeAccount(quint32 userId, const QString& userName, const QString& password,
                  const QDateTime& loginTime) {
  if (!QSqlDatabase::database().isOpen())
    return false;
  QSqlQuery query;
  query.prepare(QStringLiteral(
      "replace into userInfo(userId,userName,Pwd,autoLogin,loginTime) values(?,?,?,?,?)"));
  query.addBindValue(static_cast<qlonglong>(userId));
  query.addBindValue(userName);
  query.addBindValue(PasswordCodec::encode(password));
  query.addBindValue(QStringLiteral("true"));
  query.addBindValue(loginTime.toString(QStringLiteral("yyyyMMdd-hhmmsszzz")));
  return query.exec();
}

QString readRoomSetting(quint32 userId, quint32 roomId) {
  if (!QSqlDatabase::database().isOpen())
    return QString();
  QSqlQuery query;
  if (!query.exec(QStringLiteral("SELECT settingValue FROM settings where settingItem='%1,%2'")
                      .arg(userId)
                      .arg(roomId)) ||
      !query.next())
    return QString();
  return query.value(0).toString();
}

bool writeRoomSetting(quint32 userId, quint32 roomId, const QString& value) {
  if (!QSqlDatabase::database().isOpen())
    return false;
  QSqlQuery query;
  query.prepare(QStringLiteral("replace into settings(settingItem,settingValue) values(?,?)"));
  query.addBindValue(QStringLiteral("%1,%2").arg(userId).arg(roomId));
  query.addBindValue(value);
  return query.exec();
}

}  // namespace AccountStore
