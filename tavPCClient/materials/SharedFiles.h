// The shared area's files: where this member keeps shared pictures
// ("sharingPic/ROOM/UPLOADER/NAME") and document pages
// ("sharingfiles/ROOM/DOCUMENT/DOCUMENT_N.png") below its data folder, the
// upload of its own picture to the room's files, and the downloads of others'
// pictures and pages, each reported with its local path.
#pragma once

#include <QObject>
#include <QString>

#include "FileServer.h"

class ClassroomContext;

class SharedFiles : public QObject {
  Q_OBJECT

public:
  explicit SharedFiles(const ClassroomContext& context, QObject* parent = nullptr);

  // The data folder unless a test says otherwise.
  void setDataFolder(const QString& folder);
  QString dataFolder() const { return dataFolder_; }
  void setTicket(const QString& ticket) { ticket_ = ticket; }

  QString ownPictureFolder() const;
  QString pictureFile(quint32 uploader, const QString& fileName) const;
  QString pageFile(const QString& document, int page) const;

  // The end of each is always reported, later.
  void uploadPicture(const QString& path);
  void fetchPicture(quint32 uploader, const QString& localPath);
  void fetchPage(quint32 uploader, const QString& localPath);

signals:
  void pictureUploaded(QString path, bool ok);
  // 0-99 while bytes move, 100 done, -1 failed.
  void pictureProgress(int percent, QString path);
  void pageProgress(int percent, QString path);

private:
  void fetch(quint32 uploader, const QString& localPath, bool page);
  transfer::FileServer fileServer() const;

  const ClassroomContext& context_;
  QString dataFolder_;
  QString ticket_;
};
