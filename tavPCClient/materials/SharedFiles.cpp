#include "SharedFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "ClassroomContext.h"
#include "DataFolder.h"
#include "Download2UI.h"
#include "LoginInfo.h"
#include "Upload2UI.h"

SharedFiles::SharedFiles(const ClassroomContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      dataFolder_(DataFolder::path()),
      ticket_(LoginInfo::current().ticket) {}

void SharedFiles::setDataFolder(const QString& folder) {
  dataFolder_ = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString SharedFiles::ownPictureFolder() const {
  return dataFolder_ +
         QStringLiteral("sharingPic/%1/%2/").arg(context_.roomId()).arg(context_.ownUserId());
}

QString SharedFiles::pictureFile(quint32 uploader, const QString& fileName) const {
  return dataFolder_ +
         QStringLiteral("sharingPic/%1/%2/%3")
             .arg(QString::number(context_.roomId()), QString::number(uploader), fileName);
}

QString SharedFiles::pageFile(const QString& document, int page) const {
  // One pass: a "%" in a document's name stays text.
  return dataFolder_ +
         QStringLiteral("sharingfiles/%1/%2/%2_%3.png")
             .arg(QString::number(context_.roomId()), document, QString::number(page));
}

void SharedFiles::uploadPicture(const QString& path) {
  auto* upload = new Upload2UI(fileServer(), path, this);
  connect(upload, &Upload2UI::signalUploadComplete, this, [this, upload](QString done, bool ok) {
    upload->deleteLater();
    emit pictureUploaded(done, ok);
  });
  if (!upload->start()) {
    QTimer::singleShot(0, upload, [this, upload, path] {
      upload->deleteLater();
      emit pictureUploaded(path, false);
    });
  }
}

void SharedFiles::fetchPicture(quint32 uploader, const QString& localPath) {
  fetch(uploader, localPath, false);
}

void SharedFiles::fetchPage(quint32 uploader, const QString& localPath) {
  fetch(uploader, localPath, true);
}

void SharedFiles::fetch(quint32 uploader, const QString& localPath, bool page) {
  QDir().mkpath(QFileInfo(localPath).absolutePath());
  auto* download = new Download2UI(fileServer(), uploader, localPath, this);
  connect(download, &Download2UI::signalDownloadProgress, this,
          [this, page](int percent, QString path) {
            if (page)
              emit pageProgress(percent, path);
            else
              emit pictureProgress(percent, path);
          });
  if (!download->start()) {
    QTimer::singleShot(0, download, [this, download, localPath, page] {
      download->deleteLater();
      if (page)
        emit pageProgress(-1, localPath);
      else
        emit pictureProgress(-1, localPath);
    });
  }
}

transfer::FileServer SharedFiles::fileServer() const {
  transfer::FileServer server;
  const ServerAddress& address = context_.entry().fileServer;
  server.host = address.host;
  server.port = address.port > 0 && address.port <= 65535 ? quint16(address.port) : 0;
  server.ticket = ticket_;
  server.ownUserId = context_.ownUserId();
  server.roomId = context_.roomId();
  server.localRoot = dataFolder_;
  return server;
}
