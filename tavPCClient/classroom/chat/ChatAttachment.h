// The file a chat entry carries (a picture or a voice clip) and what moves it:
// the uploads of an own picture (its thumbnail first when it has one) or clip,
// the downloads of another member's, each reported with what it was for, and
// the clip's playback. The entry's bubble shows what this reports.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "FileServer.h"

class ClipPlayer2UI;
class Download2UI;
class Upload2UI;

class ChatAttachment : public QObject {
  Q_OBJECT

public:
  // What a download is for: the thumbnail shown in the list, the full file
  // shown (or the clip), the full picture opened again after it was deleted
  // here, the full picture shared with the class.
  enum Purpose { kThumbnail, kFull, kReopen, kShare };
  // The two uploads of a picture: the thumbnail, then the file itself.
  enum Stage { kThumbnailUpload, kFullUpload };

  explicit ChatAttachment(QObject* parent = nullptr);
  ~ChatAttachment() override;

  // Whose file it is (downloads fetch the sender's) and where it is kept.
  void setSender(quint32 senderId) { senderId_ = senderId; }
  void setFileServer(const transfer::FileServer& server) { server_ = server; }
  const transfer::FileServer& fileServer() const { return server_; }

  // Sends path to the room's files, replacing an upload of the same stage
  // that is still running. The end is always reported, later.
  void upload(const QString& path, Stage stage);
  bool uploading() const;
  // Fetches the sender's file into path; the end is always reported, later.
  void download(const QString& path, Purpose purpose);

  // Plays the clip at path on speaker; false when it cannot be played.
  bool play(const QString& path, int speaker);
  void stopPlaying();
  int setPlayState(int state);
  int seekPercent(int percent);

signals:
  void uploadProgress(int stage, int percent);
  void uploadComplete(int stage, QString path, bool ok);
  // 0-99 while bytes move, 100 done, -1 failed.
  void downloadProgress(int purpose, int percent, QString path);
  void playProgress(quint32 curr, quint32 total);

private:
  quint32 senderId_ = 0;
  transfer::FileServer server_;
  QPointer<Upload2UI> full_;
  QPointer<Upload2UI> lite_;
  ClipPlayer2UI* player_;
};
