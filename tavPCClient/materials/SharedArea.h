// The shared area: what everybody sees in the middle of the classroom (the
// blank board or a template, a picture, a page of a shared document) and how
// the member holding the sharing right steers it. The sharer takes the right
// from the media server, puts the file where the others fetch it, and
// announces the share state; rotation, page, display mode and the visible
// part follow as peer messages that every member (the sender too) applies.
// A newcomer asks the sharer for the state. The whiteboard canvas lies over
// the picture, so it is told where the picture lies and is cleared when the
// picture changes.
//
// The state and its messages are ShareState's, the files SharedFiles', the
// buttons ShareControlBar's; this part joins them to the room, the sharing
// right and the picture shown.
#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>

#include "ClassroomComponent.h"
#include "MediaRights.h"
#include "PicRenderWidget.h"
#include "ShareState.h"
#include "SharedAreaView.h"
#include "SharedContent.h"

class ClassroomContext;
class MediaEventBridge;
class ShareControlBar;
class SharedFiles;
class QWidget;

class SharedArea : public QObject,
                   public ClassroomComponent,
                   public SharedAreaView,
                   public SharedContent {
  Q_OBJECT

public:
  using State = ShareState::State;

  explicit SharedArea(ClassroomContext& context, QObject* parent = nullptr);
  ~SharedArea() override;

  // The area itself and the sharer's buttons (page, rotation, fit/actual).
  PicRenderWidget* view() const { return view_; }
  QWidget* controlBar() const;
  // The share events of the media library.
  void listenTo(MediaEventBridge& bridge);

  const State& state() const { return model_->state(); }
  const ShareState& model() const { return *model_; }
  // The picture as decoded, before rotation; null while none is shown.
  QPixmap picture() const { return original_; }
  bool isSharer() const;
  // Where this member's files live (the data folder unless a test says otherwise).
  void setDataFolder(const QString& folder);
  QString dataFolder() const;
  void setTicket(const QString& ticket);
  // Local places of shared files.
  QString ownPictureFolder() const;
  QString pictureFile(quint32 uploader, const QString& fileName) const;
  QString pageFile(const QString& document, int page) const;

  // SharedAreaView
  QWidget* sharedArea() const override;
  QRect pictureRect() const override;
  QPixmap shownPixmap() const override;
  bool screenShareMode() const override { return false; }

  // SharedContent
  QJsonObject shareStateMessage() const override;
  QString shownFile() const override { return shownFile_; }
  void sharePhonePicture(const QString& path) override { onShareChatPic(path, true); }

  // ClassroomComponent
  void classStopping() override;

public slots:
  // Sharing: a template in place, a picture (chosen, from the chat or the
  // phone), a document's first page.
  void shareTemplate(const QString& templatePath);
  void sharePicture(const QString& sourcePath);
  void onShareChatPic(QString strPicFilePath, bool isZhuShouSrc);
  void onSharingDocument(int id, QString fileName, int pages);
  // Whose room files hold a document's pages (who registered it).
  void setDocumentUploader(int docId, quint32 uploader) { uploaderOf_.insert(docId, uploader); }
  // The share-content entries: the template chooser, the picture file dialog.
  void chooseTemplate();
  void choosePicture();

  void slot_uploadSharingPicProgress(QString path, bool ok);
  void slot_downloadSharingPicProgress(int percent, QString path, bool bZhuShouSrc);
  void slot_downloadDocPageProgress(int percent, QString path);

  void btnPreviousPic_clicked();
  void btnNextPic_clicked();
  void btnGoToPic_clicked(int index);
  void btnForwardRotate_clicked();
  void btnReverseRotate_clicked();
  void btnPicAdaptWnd_clicked();
  void picDispWidget_mousePress();
  void picDispWidget_mouseMove(int dx, int dy);
  void picDispWidget_mouseRelease();
  void picDispWidget_resize(int width, int height);

  // The media library's share events.
  void ss_start_share(quint32 userId);
  void start_share_ack(int result);
  void ss_stop_share(quint32 userId);

signals:
  // A document began or stopped being shown (the list may not delete it meanwhile).
  void sharedDocumentChanged(int docId);

private:
  void onRoomMessage(const QJsonObject& msg);
  // Takes the sharing right for what waits in the model; granted() follows.
  void takeShare();
  void granted();
  void showBlankBoard();
  void classStateChanged(bool running);
  // What a change of the state means for the picture shown.
  void follow(ShareState::Change change);
  void showSharedFile();

  // Shows a file: decode, rotate, fit or the stored part at actual size.
  bool showFile(const QString& path);
  void redisplay();
  void showDocumentPage();
  void fetchPage(int page, bool showWhenDone);
  void refreshBar();
  void clearBoard();
  void placeCanvas();
  // Sends to the room (the type decides the transport) and applies it here.
  void sendAndApply(const QJsonObject& msg);
  void report(const QString& type);
  QSize areaSize() const;
  QSize rotatedSize() const;

  ClassroomContext& context_;
  ShareRight& right_;
  FrameDelivery& frames_;
  ShareState* model_;
  SharedFiles* files_;
  // Placed in the window's layout, which owns them then.
  QPointer<PicRenderWidget> view_;
  QPointer<ShareControlBar> bar_;

  QPixmap original_;
  QString sharedPicturePath_;  // the sharer's own copy
  QString shownFile_;
  bool fromPhone_ = false;
  bool awaitingAck_ = false;
  QString waitingFor_;  // the file a download brings, shown when it arrives
  QHash<int, quint32> uploaderOf_;
};
