#include "LocalDatabase.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace LocalDatabase {

namespace {
// The default connection is registered once, before the application object
// exists, so every part of the client can use it from the start.
const bool kRegistered = [] {
  QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
  return true;
}();

void createTableIfMissing(const QString& name, const QString& createStatement) {
  QSqlQuery query;
  if (query.exec(QStringLiteral("SELECT * FROM sqlite_master where type='table' and name = '%1'")
                     .arg(name)) &&
      query.next())
    return;
  if (!query.exec(createStatement))
    qWarning() << "cannot create table" << name << query.lastError().text();
}
}  // namespace

bool open(const QString& file) {
  (void)kRegistered;
  QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
  if (!db.isValid())
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
  if (db.isOpen())
    db.close();
  db.setDatabaseName(file);
  if (!db.open()) {
    qWarning() << "cannot open the local database" << file << db.lastError().text();
    return false;
  }
  createTableIfMissing(
      QStringLiteral("userInfo"),
      QStringLiteral("CREATE TABLE 'userInfo' ('userId' TEXT NOT NULL,'userName' TEXT,'Pwd' "
                     "TEXT,'autoLogin' TEXT,'loginTime'\tTEXT,PRIMARY KEY(userId))"));
  createTableIfMissing(
      QStringLiteral("settings"),
      QStringLiteral(
          "CREATE TABLE 'settings' ('settingItem' TEXT PRIMARY KEY,'settingValue' TEXT)"));
  return true;
}

bool isOpen() {
  return QSqlDatabase::database(QSqlDatabase::defaultConnection, false).isOpen();
}

void close() {
  QSqlDatabase db = QSqlDatabase::database(QSqlDatabase::defaultConnection, false);
  if (db.isValid())
    db.close();
}

}  // namespace LocalDatabase
