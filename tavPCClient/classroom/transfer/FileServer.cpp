#include "FileServer.h"

#include "libferrum/libferrum.h"


namespace transfer {

namespace {
UploadMaker& uploadMaker() {
  static UploadMaker maker;
  return maker;
}
DownloadMaker& downloadMaker() {
  static DownloadMaker maker;
  return maker;
}
}  // namespace

velupload* createUpload(trans_observer* observer, const FileServer& server,
                        const QString& localPath) {
  if (uploadMaker())
    return uploadMaker()(observer, server, localPath);
  if (!server.valid())
    return nullptr;
  return velupload::create(observer, server.ownUserId, server.roomId,
                           localPath.toLocal8Bit().constData(), server.ticket.toUtf8().constData(),
                           server.host.toLatin1().constData(), server.port);
}

veldownload* createDownload(trans_observer* observer, const FileServer& server,
                            quint32 senderId, const QString& localPath) {
  if (downloadMaker())
    return downloadMaker()(observer, server, senderId, localPath);
  if (!server.valid())
    return nullptr;
  return veldownload::create(observer, server.ownUserId, server.roomId, senderId,
                             localPath.toLocal8Bit().constData(),
                             server.ticket.toUtf8().constData(),
                             server.host.toLatin1().constData(), server.port);
}

void setTransferMakers(UploadMaker upload, DownloadMaker download) {
  uploadMaker() = std::move(upload);
  downloadMaker() = std::move(download);
}

}  // namespace transfer
