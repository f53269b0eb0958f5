// The room's file server as the classroom's transfers reach it (chat files,
// shared pictures, document pages), and how transfers are made (libferrum;
// tests put their own makers in).
#pragma once

#include <QString>
#include <functional>

class trans_observer;
class velupload;
class veldownload;

namespace transfer {

struct FileServer {
  QString host;
  quint16 port = 0;
  QString ticket;  // the login ticket
  quint32 ownUserId = 0;
  quint32 roomId = 0;
  // Where this member's chat files live (empty: the per-user data folder).
  QString localRoot;

  bool valid() const { return !host.isEmpty() && port != 0; }
};

using UploadMaker =
    std::function<velupload*(trans_observer*, const FileServer&, const QString& localPath)>;
using DownloadMaker = std::function<veldownload*(trans_observer*, const FileServer&,
                                                 quint32 senderId, const QString& localPath)>;

// libferrum's create calls with the arguments in their encodings.
velupload* createUpload(trans_observer* observer, const FileServer& server,
                        const QString& localPath);
veldownload* createDownload(trans_observer* observer, const FileServer& server,
                            quint32 senderId, const QString& localPath);

// Replaces the makers (empty restores libferrum's); for tests.
void setTransferMakers(UploadMaker upload, DownloadMaker download);

}  // namespace transfer
