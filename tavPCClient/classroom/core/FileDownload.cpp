#include "FileDownload.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "NetworkAccess.h"

FileDownload::FileDownload(const QUrl& url, const QString& localPath, QObject* parent)
    : QObject(parent), url_(url), path_(localPath) {}

FileDownload::~FileDownload() {
  cancel();
}

bool FileDownload::start() {
  cancel();
  file_ = std::make_unique<QFile>(path_ + QStringLiteral(".part"));
  if (!file_->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    qWarning().noquote() << "download: cannot write" << file_->fileName() << file_->errorString();
    file_.reset();
    return false;
  }
  writeFailed_ = false;
  QNetworkRequest request{url_};
  request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  QNetworkReply* reply = NetworkAccess::manager().get(request);
  reply_ = reply;
  connect(reply, &QNetworkReply::readyRead, this, &FileDownload::readContent);
  connect(reply, &QNetworkReply::downloadProgress, this, &FileDownload::progress);
  connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
  return true;
}

void FileDownload::cancel() {
  if (QNetworkReply* reply = reply_) {
    reply_ = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
  }
  if (file_) {
    file_->close();
    file_->remove();
    file_.reset();
  }
}

void FileDownload::readContent() {
  if (!reply_ || !file_)
    return;
  const QByteArray bytes = reply_->readAll();
  if (!bytes.isEmpty() && file_->write(bytes) != bytes.size() && !writeFailed_) {
    // The disk is full or gone: the rest is not worth receiving.
    writeFailed_ = true;
    reply_->abort();
  }
}

void FileDownload::onFinished(QNetworkReply* reply) {
  reply->deleteLater();
  if (reply != reply_)
    return;  // cancelled: already cleaned up
  readContent();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const qint64 expected = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
  const qint64 received = file_ ? file_->size() : 0;
  reply_ = nullptr;
  if (writeFailed_) {
    fail(kWriteFailed);
    return;
  }
  if (reply->error() != QNetworkReply::NoError || status >= 400 || received <= 0 ||
      (expected > 0 && received != expected)) {
    fail(kNetwork);
    return;
  }
  file_->close();
  const QString part = file_->fileName();
  file_.reset();
  QFile::remove(path_);
  if (!QFile::rename(part, path_)) {
    QFile::remove(part);
    emit finished(false, kNoWriteAccess);
    return;
  }
  emit finished(true, kNone);
}

void FileDownload::fail(int failure) {
  if (file_) {
    file_->close();
    file_->remove();
    file_.reset();
  }
  emit finished(false, failure);
}
