// One file fetched over HTTP into a local file. The bytes go to
// "<localPath>.part", which becomes localPath only once the whole file is in,
// so an interrupted download is never taken for the file. Progress while it
// runs, then exactly one finished(). Redirects are followed only where they
// are no less safe; over https the server's certificate is checked.
#pragma once

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <memory>

#include <QNetworkReply>

class FileDownload : public QObject {
  Q_OBJECT

public:
  // kNoWriteAccess: the part file cannot be made or renamed; kWriteFailed:
  // writing stopped halfway (a full disk).
  enum Failure { kNone, kNetwork, kNoWriteAccess, kWriteFailed };

  FileDownload(const QUrl& url, const QString& localPath, QObject* parent = nullptr);
  // Cancels a download still running: its part file goes, nothing is reported.
  ~FileDownload() override;

  // False, with nothing sent and nothing reported, when the part file cannot
  // be written; else the end is reported.
  bool start();
  void cancel();
  bool running() const { return reply_ != nullptr; }
  QString localPath() const { return path_; }

signals:
  void progress(qint64 received, qint64 total);
  // ok: localPath holds the whole file. Otherwise why not.
  void finished(bool ok, int failure);

private:
  void readContent();
  void onFinished(QNetworkReply* reply);
  void fail(int failure);

  const QUrl url_;
  const QString path_;
  QPointer<QNetworkReply> reply_;
  std::unique_ptr<QFile> file_;
  bool writeFailed_ = false;
};
