// The per-user data folder: everything the client writes lives below it.
#pragma once

#include <QString>

namespace DataFolder {

// Set once at start-up, before any other thread runs. Always ends in '/'.
void setPath(const QString& path);
QString path();

// path() + name
QString filePath(const QString& name);

// Removes a folder and everything below it. false for an empty path, true when
// the folder does not exist, otherwise whether the folder itself was removed.
bool removeRecursively(const QString& path);

}  // namespace DataFolder
