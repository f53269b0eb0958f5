// One entry of the chat list: the sender (head picture, name, medal and
// title), the time, and a text, a picture or a voice clip. Own pictures and
// clips are uploaded, those of others downloaded by the name their message
// gave, and clips played, by the entry's ChatAttachment; the entry shows what
// it reports. Everybody's text and names are shown as plain text. Only one
// clip plays in the whole process at a time.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "ChatMessage.h"
#include "FileServer.h"

class ChatAttachment;
class ChatPictureViewer;
class ClassroomContext;
class QLabel;
class QPushButton;
class QSlider;
class QVBoxLayout;
struct RoomMember;

class ChatMessageItem : public QWidget {
  Q_OBJECT

public:
  static constexpr int kWidth = 333;

  ChatMessageItem(ClassroomContext* classroom, QWidget* parent = nullptr);
  ~ChatMessageItem() override;

  // The message's fields; own marks the own messages (which are uploaded).
  void setEntry(const chat::Entry& entry, bool own);
  void setFileServer(const transfer::FileServer& server);
  // Shows the fields set; member is the sender's entry of the member list
  // when present (medal and title).
  void fill(const RoomMember* member);
  // Own picture or clip: uploads it (a picture wider than 90 first as a
  // thumbnail). Also what clicking a failed item does again.
  void startUpload();

  qint64 recordId() const { return entry_.id; }
  int kind() const { return entry_.kind; }
  bool isOwn() const { return own_; }
  const chat::Entry& entry() const { return entry_; }
  QString fullPicturePath() const { return fullPath_; }
  QString thumbnailPicturePath() const { return thumbPath_; }
  QString statusText() const;
  bool isPlaying() const { return playing_; }
  bool unreadDotVisible() const;
  int clipSeconds() const { return clipSeconds_; }

  // The item whose clip plays now, if any.
  static ChatMessageItem* currentPlaying();

signals:
  void signal_playProgress_voice(quint32 curr, quint32 total);
  void signalUploadPrograss(int percent);
  void chatFileUploadFinished(QString path, int kind, int seconds);
  void signalDownloadProgress(int percent, QString path);
  void signalSharePic(QString path);

public slots:
  void btnVoicePlay_clicked();
  void stopPlayVoice();
  void slot_playProgress_voice(quint32 curr, quint32 total);
  void HSlider_voiceCtrl_SliderReleased();
  void HSlider_voiceCtrl_SliderPressed();
  void HSlider_voiceCtrl_SliderMoved(int value);
  void onSharePic();
  void onPicSaveAs();
  void onGetHeadIcon(QPixmap picture);
  void onUploadPrograss(int percent);
  void onUploadComplete(QString path, bool ok);
  void onDownloadProgressLite(int percent, QString path);
  void onUploadProgress_lite(int percent);
  void onUploadComplete_lite(QString path, bool ok);
  void onDownloadProgress(int percent, QString path);
  void onDownloadProgress_wasDeleted(int percent, QString path);
  void onDownloadProgress_sharePic(int percent, QString path);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void buildHeader();
  void showText();
  void preparePicture();
  void prepareVoice();
  // Shows a picture file by the display rules; false when it cannot be shown.
  bool showPicture(const QString& path);
  void showVoiceControls(const QString& path);
  void setStatus(const QString& text, bool clickToRetry = false);
  QLabel* pictureLabel();
  void showFailureIcon(const QString& icon, const QSize& size, const QString& tip);
  void uploadFull();
  void onDownload(int purpose, int percent, const QString& path);
  void openFullPicture();
  void placeBubble(int value);
  void recordRead();
  quint32 roomId() const;

  ClassroomContext* classroom_;
  chat::Entry entry_;
  bool own_ = false;
  QString fullPath_;
  QString thumbPath_;
  ChatAttachment* attachment_ = nullptr;
  bool playing_ = false;
  bool paused_ = false;
  bool retryOnClick_ = false;
  int clipSeconds_ = 0;

  QVBoxLayout* body_;
  QLabel* head_;
  QLabel* name_;
  QLabel* medal_;
  QLabel* title_;
  QLabel* time_;
  QLabel* text_ = nullptr;
  QLabel* picture_ = nullptr;
  bool pictureShown_ = false;  // the picture itself, not a failure icon
  QPointer<ChatPictureViewer> viewer_;
  QLabel* status_ = nullptr;
  QWidget* voice_ = nullptr;
  QPushButton* play_ = nullptr;
  QSlider* slider_ = nullptr;
  QLabel* length_ = nullptr;
  QLabel* unread_ = nullptr;
  QLabel* bubble_ = nullptr;
};
