// The local SQLite database "tavQN" on Qt's default connection.
#pragma once

#include <QString>

namespace LocalDatabase {

// Opens the file and creates the tables userInfo and settings when missing.
// false when the database cannot be opened; the client then runs without it.
bool open(const QString& file);

bool isOpen();
void close();

}  // namespace LocalDatabase
