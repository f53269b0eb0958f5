// Client versions: reading the one embedded in a program file, and comparing two.
// A version is one to eight decimal numbers (at most nine digits each) joined by ".".
#pragma once

#include <QByteArray>
#include <QString>

namespace FileVersion {

// What a program carries before its version: "TAVFILEVERSION:" then the
// version, ended by a NUL or a line end.
inline constexpr char kMarker[] = "TAVFILEVERSION:";
// Files larger than this are not looked into.
inline constexpr qint64 kMaxFileSize = qint64(1) << 30;

bool isValid(const QString& version);

// The version embedded in the file's bytes: empty when there is none, it is
// malformed, or the bytes are too many.
QString fromBytes(const QByteArray& bytes);

// The version embedded in the file at path (operation getFileVertion): empty
// when the file cannot be read, is too large, or carries no valid version.
QString read(const QString& path);

// The larger of a (the installed version) and b (the server's): empty when either
// is empty. Parts compare pairwise as numbers as far as the shorter list goes; when
// they are all equal the one with more parts wins, and with as many parts a.
QString larger(const QString& a, const QString& b);

}  // namespace FileVersion
