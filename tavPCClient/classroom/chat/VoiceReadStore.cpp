#include "VoiceReadStore.h"

#include <QDebug>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace VoiceReadStore {

QString clipKey(const QString& clipPath, quint32 senderId) {
  return QFileInfo(clipPath).completeBaseName() + QLatin1Char('-') + QString::number(senderId);
}

// The table on the default connection, created the first time it is missing.
static bool ensureTable(QSqlDatabase& db) {
  if (!db.isValid() || !db.isOpen())
    return false;
  if (db.tables().contains(QStringLiteral("voiceReaded")))
    return true;
  QSqlQuery create(db);
  if (!create.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS voiceReaded ("
                                  "voiceFilename TEXT NOT NULL, loginUserId INTEGER NOT NULL, "
                                  "PRIMARY KEY (voiceFilename, loginUserId))"))) {
    qWarning() << "voiceReaded: cannot create the table:" << create.lastError().text();
    return false;
  }
  return true;
}

bool markRead(const QString& clipKey, quint32 loginUserId) {
  QSqlDatabase db = QSqlDatabase::database();
  if (!ensureTable(db))
    return false;
  // The key holds another user's file name: bound, never spliced into the text.
  QSqlQuery query(db);
  query.prepare(QStringLiteral("REPLACE INTO voiceReaded VALUES (?, ?)"));
  query.addBindValue(clipKey);
  query.addBindValue(qint64(loginUserId));
  if (!query.exec()) {
    qWarning() << "voiceReaded: cannot record a clip:" << query.lastError().text();
    return false;
  }
  return true;
}

bool isRead(const QString& clipKey, quint32 loginUserId) {
  QSqlDatabase db = QSqlDatabase::database();
  if (!ensureTable(db))
    return false;
  QSqlQuery query(db);
  query.prepare(
      QStringLiteral("SELECT 1 FROM voiceReaded WHERE loginUserId = ? AND voiceFilename = ?"));
  query.addBindValue(qint64(loginUserId));
  query.addBindValue(clipKey);
  return query.exec() && query.next();
}

}  // namespace VoiceReadStore
