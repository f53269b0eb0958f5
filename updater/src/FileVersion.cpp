#include "updater/FileVersion.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <cstring>

namespace FileVersion {

namespace {
constexpr int kMaxLength = 8 * 10 - 1;  // eight parts of nine digits and their dots

QString parseAt(const char* data, qint64 size) {
  const qint64 markerLength = static_cast<qint64>(std::strlen(kMarker));
  for (qint64 from = 0; from + markerLength <= size;) {
    const void* hit = memmem(data + from, static_cast<size_t>(size - from), kMarker,
                             static_cast<size_t>(markerLength));
    if (!hit)
      return QString();
    const qint64 start = static_cast<const char*>(hit) - data + markerLength;
    qint64 end = start;
    while (end < size && end - start <= kMaxLength &&
           ((data[end] >= '0' && data[end] <= '9') || data[end] == '.'))
      ++end;
    const bool terminated =
        end < size && (data[end] == '\0' || data[end] == '\n' || data[end] == '\r');
    const QString version = QString::fromLatin1(data + start, static_cast<int>(end - start));
    if (terminated && isValid(version))
      return version;
    from = start;
  }
  return QString();
}
}  // namespace

bool isValid(const QString& version) {
  static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9}){0,7}$"));
  return pattern.match(version).hasMatch();
}

QString fromBytes(const QByteArray& bytes) {
  if (bytes.size() > kMaxFileSize)
    return QString();
  return parseAt(bytes.constData(), bytes.size());
}

QString read(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return QString();
  const qint64 size = file.size();
  if (size <= 0 || size > kMaxFileSize)
    return QString();
  // Mapped, not read: the client is large and only a few bytes matter.
  const uchar* mapped = file.map(0, size);
  if (!mapped)
    return QString();
  const QString version = parseAt(reinterpret_cast<const char*>(mapped), size);
  file.unmap(const_cast<uchar*>(mapped));
  return version;
}

QString larger(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty())
    return QString();
  const QStringList pa = a.split('.');
  const QStringList pb = b.split('.');
  const int common = qMin(pa.size(), pb.size());
  for (int i = 0; i < common; ++i) {
    const qulonglong x = pa[i].toULongLong();
    const qulonglong y = pb[i].toULongLong();
    if (x != y)
      return x > y ? a : b;
  }
  if (pa.size() == pb.size())
    return a;
  return pa.size() > pb.size() ? a : b;
}

}  // namespace FileVersion
