#include "ServiceCalls.h"

#include "FileDownload.h"

QString ServiceCalls::pictureUrl(const QString& storedPath) {
  const QString prefix = QString::fromLatin1(ServiceApi::kUploadPrefix);
  return HttpRequest::serviceUrl(storedPath.startsWith(QLatin1Char('/'))
                                     ? prefix + storedPath
                                     : prefix + QLatin1Char('/') + storedPath);
}

FileDownload* ServiceCalls::download(const QUrl& url, const QString& localPath,
                                     QObject* parent) const {
  return new FileDownload(url, localPath, parent);
}
