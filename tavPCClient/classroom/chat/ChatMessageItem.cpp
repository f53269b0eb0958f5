#include "ChatMessageItem.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "ChatAttachment.h"
#include "ChatFiles.h"
#include "ChatPictureViewer.h"
#include "ClassroomContext.h"
#include "LocalConfig.h"
#include "QNMessageBox.h"
#include "RoomContext.h"
#include "RoomMember.h"
#include "VoiceReadStore.h"
#include "libpavo/libpavo.h"

namespace {

QPointer<ChatMessageItem>& playingItem() {
  static QPointer<ChatMessageItem> item;
  return item;
}

// Head pictures by the sender's picture name, fetched once per process.
QHash<QString, QPixmap>& headCache() {
  static QHash<QString, QPixmap> cache;
  return cache;
}

constexpr int kHeadSide = 32;

// A picture name from a message as a path below the service's upload folder.
bool isPlainUploadPath(const QString& path) {
  if (path.isEmpty() || path.size() > 200 || path.startsWith(QLatin1Char('/')))
    return false;
  for (const QString& part : path.split(QLatin1Char('/'))) {
    if (part.isEmpty() || part.startsWith(QLatin1Char('.')))
      return false;
  }
  return !path.contains(QLatin1Char('?')) && !path.contains(QLatin1Char('#')) &&
         !path.contains(QLatin1Char('\\'));
}

QLabel* plainLabel(QWidget* parent, const char* objectName) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(objectName));
  label->setTextFormat(Qt::PlainText);
  return label;
}

// One box for "the picture cannot be loaded", reused so a flood of bad
// pictures does not pile up dialogs.
void showLoadFailureBox(QWidget* over) {
  static QPointer<QNMessageBox> box;
  if (!box) {
    box = new QNMessageBox(over ? over->window() : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
  }
  box->setMessage(QStringLiteral("缓存不足，图片加载失败！"), QStringLiteral("确定"), QString());
  box->open();
}

}  // namespace

ChatMessageItem::ChatMessageItem(ClassroomContext* classroom, QWidget* parent)
    : QWidget(parent),
      classroom_(classroom),
      body_(new QVBoxLayout(this)),
      head_(new QLabel(this)),
      name_(plainLabel(this, "chatSenderName")),
      medal_(plainLabel(this, "chatSenderMedal")),
      title_(plainLabel(this, "chatSenderTitle")),
      time_(plainLabel(this, "chatSendTime")) {
  setObjectName(QStringLiteral("chatMessageItem"));
  attachment_ = new ChatAttachment(this);
  connect(attachment_, &ChatAttachment::downloadProgress, this, &ChatMessageItem::onDownload);
  connect(attachment_, &ChatAttachment::uploadProgress, this, [this](int stage, int percent) {
    if (stage == ChatAttachment::kThumbnailUpload)
      onUploadProgress_lite(percent);
    else
      onUploadPrograss(percent);
  });
  connect(attachment_, &ChatAttachment::uploadComplete, this,
          [this](int stage, QString path, bool ok) {
            if (stage == ChatAttachment::kThumbnailUpload)
              onUploadComplete_lite(path, ok);
            else
              onUploadComplete(path, ok);
          });
  connect(attachment_, &ChatAttachment::playProgress, this,
          &ChatMessageItem::signal_playProgress_voice);
  setFixedWidth(kWidth);
  head_->setObjectName(QStringLiteral("chatSenderHead"));
  head_->setFixedSize(kHeadSide, kHeadSide);
  head_->setScaledContents(true);
  medal_->hide();
  title_->hide();
  body_->setContentsMargins(4, 4, 4, 4);
  body_->setSpacing(2);
  buildHeader();
}

ChatMessageItem::~ChatMessageItem() {
  if (playingItem() == this)
    playingItem() = nullptr;
}

void ChatMessageItem::setFileServer(const transfer::FileServer& server) {
  attachment_->setFileServer(server);
}

void ChatMessageItem::onDownload(int purpose, int percent, const QString& path) {
  switch (purpose) {
    case ChatAttachment::kThumbnail:
      onDownloadProgressLite(percent, path);
      break;
    case ChatAttachment::kFull:
      onDownloadProgress(percent, path);
      break;
    case ChatAttachment::kReopen:
      onDownloadProgress_wasDeleted(percent, path);
      break;
    case ChatAttachment::kShare:
      onDownloadProgress_sharePic(percent, path);
      break;
    default:
      break;
  }
}

void ChatMessageItem::buildHeader() {
  auto* row = new QHBoxLayout;
  row->setSpacing(4);
  row->addWidget(head_);
  auto* who = new QVBoxLayout;
  who->setSpacing(0);
  auto* nameRow = new QHBoxLayout;
  nameRow->setSpacing(4);
  name_->setMaximumWidth(150);
  nameRow->addWidget(name_);
  nameRow->addWidget(medal_);
  nameRow->addWidget(title_);
  nameRow->addStretch(1);
  who->addLayout(nameRow);
  time_->setStyleSheet(QStringLiteral("color: #999999; font-size: 11px;"));
  who->addWidget(time_);
  row->addLayout(who, 1);
  body_->addLayout(row);
}

void ChatMessageItem::setEntry(const chat::Entry& entry, bool own) {
  entry_ = entry;
  own_ = own;
  attachment_->setSender(entry_.senderId);
  if (entry_.kind == chat::kVoice)
    clipSeconds_ = entry_.voiceSeconds;
}

QString ChatMessageItem::statusText() const {
  return status_ ? status_->text() : QString();
}

bool ChatMessageItem::unreadDotVisible() const {
  return unread_ && !unread_->isHidden();
}

quint32 ChatMessageItem::roomId() const {
  return classroom_ ? classroom_->roomId() : 0;
}

ChatMessageItem* ChatMessageItem::currentPlaying() {
  return playingItem().data();
}

void ChatMessageItem::fill(const RoomMember* member) {
  // Sender: name in the role's colour, the name again as tooltip.
  QString elided = name_->fontMetrics().elidedText(entry_.senderName, Qt::ElideRight, 150);
  name_->setText(elided);
  name_->setToolTip(entry_.senderName.toHtmlEscaped());
  switch (entry_.senderRole) {
    case RoomContext::kTeacher:
      name_->setStyleSheet(
          QStringLiteral("font-weight: bold; font-size: 12px; color: rgb(58,109,252);"));
      break;
    case RoomContext::kParent:
      name_->setStyleSheet(QStringLiteral("font-weight: bold; color: rgb(239,99,1);"));
      break;
    case RoomContext::kAuditor:
      name_->setStyleSheet(QStringLiteral("font-weight: bold; color: rgb(123,123,123);"));
      break;
    default:
      break;
  }
  if (member) {
    medal_->setText(member->medals);
    medal_->setVisible(!member->medals.isEmpty());
    medal_->setStyleSheet(
        QStringLiteral("background: #fff3d6; color: #b26a00; border-radius: 3px; padding: 0 3px; "
                       "font-size: 11px;"));
    title_->setText(member->level);
    title_->setVisible(!member->level.isEmpty());
    title_->setStyleSheet(QStringLiteral("color: #3a6dfc; font-size: 11px;"));
  }
  time_->setText(entry_.sendTime);

  // Head picture: the own one, a cached one, or fetched once.
  if (own_ && classroom_ && !classroom_->ownAvatar().isNull()) {
    onGetHeadIcon(classroom_->ownAvatar());
  } else if (headCache().contains(entry_.senderImg)) {
    onGetHeadIcon(headCache().value(entry_.senderImg));
  } else if (isPlainUploadPath(entry_.senderImg)) {
    const QString img = entry_.senderImg;
    const ServiceCalls service = classroom_ ? classroom_->service() : ServiceCalls();
    service.fetchPicture(img, this, [this, img](QPixmap picture) {
      if (!picture.isNull())
        headCache().insert(img, picture);
      onGetHeadIcon(picture);
    });
  }

  switch (entry_.kind) {
    case chat::kText:
      showText();
      break;
    case chat::kPicture:
      preparePicture();
      break;
    case chat::kVoice:
      prepareVoice();
      break;
    default:
      break;
  }
}

void ChatMessageItem::onGetHeadIcon(QPixmap picture) {
  if (picture.isNull())
    return;
  head_->setPixmap(
      picture.scaled(kHeadSide, kHeadSide, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void ChatMessageItem::showText() {
  text_ = plainLabel(this, "chatText");
  text_->setText(chat::breakLines(entry_.content));
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text_->setStyleSheet(QStringLiteral("background: %1; border-radius: 6px; padding: 6px 8px;")
                           .arg(own_ ? QStringLiteral("#d9e7ff") : QStringLiteral("#f1f2f4")));
  auto* row = new QHBoxLayout;
  row->setContentsMargins(kHeadSide + 4, 0, 0, 0);
  row->addWidget(text_);
  row->addStretch(1);
  body_->addLayout(row);
}

void ChatMessageItem::setStatus(const QString& text, bool clickToRetry) {
  if (!status_) {
    status_ = plainLabel(this, "chatItemStatus");
    status_->setContentsMargins(kHeadSide + 8, 0, 0, 0);
    status_->installEventFilter(this);
    body_->addWidget(status_);
  }
  retryOnClick_ = clickToRetry;
  status_->setText(text);
  status_->setVisible(!text.isEmpty());
  status_->setCursor(clickToRetry ? Qt::PointingHandCursor : Qt::ArrowCursor);
  status_->setToolTip(clickToRetry ? QStringLiteral("点击重新发送") : QString());
  status_->setStyleSheet(clickToRetry ? QStringLiteral("color: #c5221f;")
                                      : QStringLiteral("color: #888888;"));
}

QLabel* ChatMessageItem::pictureLabel() {
  // One label for the icon and the picture that may replace it: clicks and
  // the menu reach it whichever came first.
  if (!picture_) {
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("chatPicture"));
    picture_->setContentsMargins(kHeadSide + 8, 0, 0, 0);
    picture_->installEventFilter(this);
    body_->addWidget(picture_);
  }
  return picture_;
}

void ChatMessageItem::showFailureIcon(const QString& icon, const QSize& size, const QString& tip) {
  pictureLabel()->setPixmap(QPixmap(icon).scaled(size));
  picture_->setCursor(Qt::ArrowCursor);
  picture_->setFixedSize(size + QSize(kHeadSide + 8, 0));
  picture_->setToolTip(tip);
}

// Pictures.

void ChatMessageItem::preparePicture() {
  if (own_ && QFileInfo(entry_.content).isAbsolute() && QFileInfo::exists(entry_.content)) {
    fullPath_ = entry_.content;
    thumbPath_ = chat::thumbnailPath(fullPath_);
    showPicture(fullPath_);
    return;
  }
  if (!chat::isSafeFileName(entry_.content) || entry_.senderId == 0) {
    showFailureIcon(QStringLiteral(":/res/room/noPic.png"), QSize(51, 40),
                    QStringLiteral("获取图片失败"));
    return;
  }
  const QString folder =
      chat::userFolder(roomId(), entry_.senderId, attachment_->fileServer().localRoot);
  QDir().mkpath(folder);
  fullPath_ = folder + QLatin1Char('/') + entry_.content;
  thumbPath_ = folder + QLatin1Char('/') + chat::thumbnailName(entry_.content);
  if (QFileInfo::exists(thumbPath_)) {
    showPicture(thumbPath_);
  } else if (QFileInfo::exists(fullPath_)) {
    showPicture(fullPath_);
  } else {
    attachment_->download(thumbPath_, ChatAttachment::kThumbnail);
    setStatus(QStringLiteral("图片加载中..."));
  }
}

bool ChatMessageItem::showPicture(const QString& path) {
  const QString shown = chat::normalisePictureSuffix(path);
  if (shown.isEmpty()) {
    setStatus(QStringLiteral("不支持的图片格式"));
    return false;
  }
  if (path == fullPath_)
    fullPath_ = shown;
  else if (path == thumbPath_)
    thumbPath_ = shown;
  const QSize size = chat::checkedPictureSize(shown);
  if (chat::tooLargePicture(chat::declaredPictureSize(shown))) {
    // Not a failure of the cache: it is never decoded at that size.
    setStatus(QStringLiteral("图片尺寸过大，无法显示"));
    return false;
  }
  QImage image;
  if (size.isValid()) {
    QImageReader reader(shown);
    reader.setDecideFormatFromContent(true);
    const QSize target = chat::displaySize(size);
    if (target != size)
      reader.setScaledSize(target);
    image = reader.read();
  }
  if (image.isNull()) {
    showLoadFailureBox(this);
    setStatus(QStringLiteral("图片加载失败"));
    return false;
  }
  pictureLabel()->setCursor(Qt::PointingHandCursor);
  picture_->setToolTip(QStringLiteral("单击查看原图，右键可分享或另存为"));
  pictureShown_ = true;
  const QSize target = chat::displaySize(size);
  picture_->setPixmap(QPixmap::fromImage(
      image.size() == target
          ? image
          : image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
  picture_->setFixedSize(target + QSize(kHeadSide + 8, 0));
  if (status_ && !retryOnClick_ && status_->text() == QStringLiteral("图片加载中..."))
    setStatus(QString());
  return true;
}

void ChatMessageItem::onDownloadProgressLite(int percent, QString path) {
  Q_UNUSED(path)
  if (percent == 100) {
    setStatus(QString());
    showPicture(thumbPath_);
    return;
  }
  if (percent != -1)
    return;
  // No thumbnail (a small picture has none): the full picture instead.
  showFailureIcon(QStringLiteral(":/res/room/noPic.png"), QSize(51, 40),
                  QStringLiteral("获取图片失败"));
  if (QFileInfo::exists(fullPath_)) {
    setStatus(QString());
    showPicture(fullPath_);
  } else {
    attachment_->download(fullPath_, ChatAttachment::kFull);
  }
}

void ChatMessageItem::onDownloadProgress(int percent, QString path) {
  Q_UNUSED(path)
  emit signalDownloadProgress(percent, fullPath_);
  if (percent == 100) {
    setStatus(QString());
    if (entry_.kind == chat::kPicture) {
      if (picture_)
        picture_->setToolTip(QString());
      showPicture(fullPath_);
    } else {
      showVoiceControls(fullPath_);
    }
  } else if (percent == -1) {
    setStatus(QString());
    if (entry_.kind == chat::kVoice)
      showFailureIcon(QStringLiteral(":/res/room/noVoice.png"), QSize(42, 42),
                      QStringLiteral("获取语音失败"));
    else
      showFailureIcon(QStringLiteral(":/res/room/noPic.png"), QSize(51, 40),
                      QStringLiteral("获取图片失败"));
  }
}

void ChatMessageItem::onDownloadProgress_wasDeleted(int percent, QString path) {
  Q_UNUSED(path)
  if (percent == 100) {
    setStatus(QString());
    openFullPicture();
  } else if (percent == -1) {
    setStatus(QStringLiteral("获取图片失败"));
  } else {
    setStatus(QStringLiteral("%1%").arg(percent));
  }
}

void ChatMessageItem::onDownloadProgress_sharePic(int percent, QString path) {
  Q_UNUSED(path)
  if (percent == 100) {
    setStatus(QString());
    fullPath_ = chat::normalisePictureSuffix(fullPath_);
    if (!fullPath_.isEmpty())
      emit signalSharePic(fullPath_);
  } else if (percent == -1) {
    setStatus(QStringLiteral("获取图片失败"));
  }
}

void ChatMessageItem::openFullPicture() {
  if (fullPath_.isEmpty())
    return;
  if (!QFileInfo::exists(fullPath_)) {
    // Gone from this computer (or never here): the server still has it.
    setStatus(QStringLiteral("0%"));
    attachment_->download(fullPath_, ChatAttachment::kReopen);
    return;
  }
  const QString path = chat::normalisePictureSuffix(fullPath_);
  if (path.isEmpty()) {
    setStatus(QStringLiteral("不支持的图片格式"));
    return;
  }
  fullPath_ = path;
  if (!chat::checkedPictureSize(path).isValid()) {
    showLoadFailureBox(this);
    return;
  }
  // One viewer per picture: clicked again, the open one comes to the front.
  if (!viewer_) {
    viewer_ = new ChatPictureViewer(path, window());
    viewer_->setAttribute(Qt::WA_DeleteOnClose);
  }
  viewer_->show();
  viewer_->raise();
  viewer_->activateWindow();
}

void ChatMessageItem::onSharePic() {
  if (QFileInfo::exists(fullPath_)) {
    emit signalSharePic(fullPath_);
    return;
  }
  if (fullPath_.isEmpty())
    return;
  attachment_->download(fullPath_, ChatAttachment::kShare);
}

void ChatMessageItem::onPicSaveAs() {
  if (!QFileInfo::exists(fullPath_))
    return;
  const QFileInfo info(fullPath_);
  const QString target = QFileDialog::getSaveFileName(
      this, QStringLiteral("图片另存为"), QStringLiteral("./%1").arg(info.fileName()),
      QStringLiteral("图片 (*.%1)").arg(info.suffix()));
  if (target.isEmpty())
    return;
  if (QFileInfo::exists(target))
    QFile::remove(target);
  if (!QFile::copy(fullPath_, target)) {
    if (classroom_)
      classroom_->toast(QStringLiteral("图片另存为失败！"));
    return;
  }
  QNMessageBox box(window());
  box.setMessage(
      QStringLiteral("图片另存为成功，存放路径为%1。").arg(QDir::toNativeSeparators(target)),
      QStringLiteral("打开文件夹"), QStringLiteral("取消"));
  if (box.exec() == QDialog::Accepted)
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(target).absolutePath()));
}

bool ChatMessageItem::eventFilter(QObject* watched, QEvent* event) {
  if (watched == status_ && event->type() == QEvent::MouseButtonRelease && retryOnClick_) {
    startUpload();
    return true;
  }
  if (watched == picture_ && entry_.kind == chat::kPicture && pictureShown_) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      openFullPicture();
      return true;
    }
    if (event->type() == QEvent::ContextMenu) {
      QMenu menu(this);
      menu.addAction(QStringLiteral("分享给全班"), this, &ChatMessageItem::onSharePic);
      menu.addAction(QStringLiteral("另存为"), this, &ChatMessageItem::onPicSaveAs);
      menu.exec(static_cast<QContextMenuEvent*>(event)->globalPos());
      return true;
    }
  }
  if (watched == slider_ && event->type() == QEvent::MouseButtonPress && slider_->maximum() > 0) {
    // A click anywhere on the groove jumps there.
    auto* mouse = static_cast<QMouseEvent*>(event);
    const int value = QStyle::sliderValueFromPosition(slider_->minimum(), slider_->maximum(),
                                                      mouse->pos().x(), slider_->width());
    slider_->setValue(value);
  }
  return QWidget::eventFilter(watched, event);
}

// Uploads of own pictures and clips.

void ChatMessageItem::startUpload() {
  if (!own_)
    return;
  if (entry_.kind == chat::kPicture) {
    fullPath_ = entry_.content;
    const QSize size = chat::checkedPictureSize(fullPath_);
    QImage image;
    if (size.isValid())
      image.load(fullPath_);
    if (image.isNull()) {
      setStatus(QStringLiteral("发送图片失败"));
      return;
    }
    if (image.width() > chat::kThumbnailFrom) {
      const QSize lite = chat::thumbnailSize(image.size());
      thumbPath_ = chat::thumbnailPath(fullPath_);
      image.scaled(lite, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(thumbPath_);
      setStatus(QStringLiteral("图片正在发送..."));
      attachment_->upload(thumbPath_, ChatAttachment::kThumbnailUpload);
      return;
    }
    setStatus(QStringLiteral("图片正在发送..."));
  }
  uploadFull();
}

void ChatMessageItem::uploadFull() {
  attachment_->upload(entry_.content, ChatAttachment::kFullUpload);
}

void ChatMessageItem::onUploadProgress_lite(int percent) {
  Q_UNUSED(percent)
}

void ChatMessageItem::onUploadComplete_lite(QString path, bool ok) {
  Q_UNUSED(path)
  if (!ok) {
    onUploadPrograss(-1);
    return;
  }
  uploadFull();
}

void ChatMessageItem::onUploadPrograss(int percent) {
  emit signalUploadPrograss(percent);
  if (percent == -1) {
    setStatus(entry_.kind == chat::kVoice ? QStringLiteral("发送语音失败，点击重新发送")
                                          : QStringLiteral("发送图片失败，点击重新发送"),
              true);
    return;
  }
  if (percent < 100) {
    setStatus(QStringLiteral("%1%").arg(percent));
    return;
  }
  setStatus(QString());
  if (entry_.kind == chat::kPicture) {
    showPicture(fullPath_);
    emit chatFileUploadFinished(fullPath_, chat::kPicture, 0);
  } else {
    showVoiceControls(entry_.content);
    emit chatFileUploadFinished(entry_.content, chat::kVoice, clipSeconds_);
  }
}

void ChatMessageItem::onUploadComplete(QString path, bool ok) {
  // What it means was shown from the progress; the transfer is gone by itself.
  Q_UNUSED(path)
  Q_UNUSED(ok)
}

// Voice clips.

void ChatMessageItem::prepareVoice() {
  if (own_ && QFileInfo(entry_.content).isAbsolute() && QFileInfo::exists(entry_.content)) {
    fullPath_ = entry_.content;
    if (!attachment_->uploading())
      setStatus(QStringLiteral("语音正在发送..."));
    return;
  }
  if (!chat::isSafeFileName(entry_.content) || entry_.senderId == 0) {
    showFailureIcon(QStringLiteral(":/res/room/noVoice.png"), QSize(42, 42),
                    QStringLiteral("获取语音失败"));
    return;
  }
  const QString folder =
      chat::userFolder(roomId(), entry_.senderId, attachment_->fileServer().localRoot);
  QDir().mkpath(folder);
  fullPath_ = folder + QLatin1Char('/') + entry_.content;
  if (QFileInfo::exists(fullPath_)) {
    showVoiceControls(fullPath_);
  } else {
    setStatus(QStringLiteral("语音加载中..."));
    attachment_->download(fullPath_, ChatAttachment::kFull);
  }
}

void ChatMessageItem::showVoiceControls(const QString& path) {
  fullPath_ = path;
  if (classroom_) {
    const int seconds = classroom_->mediaDevices().clipSeconds(path);
    if (seconds >= 0)
      clipSeconds_ = seconds;
  }
  if (!voice_) {
    voice_ = new QWidget(this);
    voice_->setObjectName(QStringLiteral("chatVoice"));
    auto* row = new QHBoxLayout(voice_);
    row->setContentsMargins(kHeadSide + 8, 0, 0, 0);
    play_ = new QPushButton(voice_);
    play_->setObjectName(QStringLiteral("btnVoicePlay"));
    play_->setFlat(true);
    play_->setFixedSize(28, 28);
    play_->setIcon(QIcon(QStringLiteral(":/res/room/voicePlay.png")));
    play_->setIconSize(QSize(24, 24));
    slider_ = new QSlider(Qt::Horizontal, voice_);
    slider_->setObjectName(QStringLiteral("HSlider_voiceCtrl"));
    slider_->setFixedWidth(140);
    slider_->installEventFilter(this);
    length_ = plainLabel(voice_, "chatVoiceLength");
    unread_ = new QLabel(voice_);
    unread_->setObjectName(QStringLiteral("chatVoiceUnread"));
    unread_->setFixedSize(8, 8);
    unread_->setStyleSheet(QStringLiteral("background: #e8453c; border-radius: 4px;"));
    unread_->setToolTip(QStringLiteral("未读"));
    row->addWidget(play_);
    row->addWidget(slider_);
    row->addWidget(length_);
    row->addWidget(unread_);
    row->addStretch(1);
    body_->addWidget(voice_);
    bubble_ = plainLabel(this, "chatVoiceBubble");
    bubble_->setStyleSheet(
        QStringLiteral("background: #333333; color: white; border-radius: 3px; padding: 1px 4px;"));
    bubble_->hide();
    connect(play_, &QPushButton::clicked, this, &ChatMessageItem::btnVoicePlay_clicked);
    connect(slider_, &QSlider::sliderPressed, this,
            &ChatMessageItem::HSlider_voiceCtrl_SliderPressed);
    connect(slider_, &QSlider::sliderReleased, this,
            &ChatMessageItem::HSlider_voiceCtrl_SliderReleased);
    connect(slider_, &QSlider::sliderMoved, this, &ChatMessageItem::HSlider_voiceCtrl_SliderMoved);
  }
  slider_->setRange(0, clipSeconds_);
  slider_->setValue(0);
  length_->setText(chat::clipLengthText(clipSeconds_));
  const quint32 login = classroom_ ? classroom_->ownUserId() : 0;
  const bool read = own_ || entry_.senderId == login ||
                    VoiceReadStore::isRead(VoiceReadStore::clipKey(path, entry_.senderId), login);
  unread_->setVisible(!read);
}

void ChatMessageItem::recordRead() {
  if (!classroom_)
    return;
  VoiceReadStore::markRead(VoiceReadStore::clipKey(fullPath_, entry_.senderId),
                           classroom_->ownUserId());
}

void ChatMessageItem::btnVoicePlay_clicked() {
  if (!voice_)
    return;
  if (playing_) {
    if (attachment_->setPlayState(paused_ ? 1 : 2) == 0) {
      paused_ = !paused_;
      play_->setIcon(QIcon(paused_ ? QStringLiteral(":/res/room/voicePlay.png")
                                   : QStringLiteral(":/res/room/voicePause.png")));
    }
    return;
  }
  if (ChatMessageItem* other = playingItem())
    other->stopPlayVoice();
  connect(this, &ChatMessageItem::signal_playProgress_voice, this,
          &ChatMessageItem::slot_playProgress_voice, Qt::UniqueConnection);
  const int speaker =
      LocalConfig::instance()->value(QStringLiteral("conf/cmbAudioOutputDevice")).toInt();
  if (!attachment_->play(fullPath_, speaker)) {
    disconnect(this, &ChatMessageItem::signal_playProgress_voice, this,
               &ChatMessageItem::slot_playProgress_voice);
    if (classroom_)
      classroom_->toast(QStringLiteral("语音播放失败！"));
    return;
  }
  playing_ = true;
  paused_ = false;
  playingItem() = this;
  play_->setIcon(QIcon(QStringLiteral(":/res/room/voicePause.png")));
  slider_->setToolTip(QStringLiteral("单击可进行定位播放"));
  unread_->hide();
  recordRead();
}

void ChatMessageItem::slot_playProgress_voice(quint32 curr, quint32 total) {
  if (!playing_ || !slider_)
    return;
  slider_->setValue(static_cast<int>(curr));
  if (curr == total)
    QTimer::singleShot(50, this, &ChatMessageItem::stopPlayVoice);
}

void ChatMessageItem::stopPlayVoice() {
  playing_ = false;
  paused_ = false;
  if (playingItem() == this)
    playingItem() = nullptr;
  disconnect(this, &ChatMessageItem::signal_playProgress_voice, this,
             &ChatMessageItem::slot_playProgress_voice);
  attachment_->stopPlaying();
  if (!voice_)
    return;
  play_->setIcon(QIcon(QStringLiteral(":/res/room/voicePlay.png")));
  slider_->setValue(0);
  slider_->setToolTip(QString());
  bubble_->hide();
}

void ChatMessageItem::HSlider_voiceCtrl_SliderPressed() {
  placeBubble(slider_->value());
  bubble_->show();
  disconnect(this, &ChatMessageItem::signal_playProgress_voice, this,
             &ChatMessageItem::slot_playProgress_voice);
}

void ChatMessageItem::HSlider_voiceCtrl_SliderMoved(int value) {
  placeBubble(value);
}

void ChatMessageItem::HSlider_voiceCtrl_SliderReleased() {
  if (playing_ && slider_->maximum() > 0)
    attachment_->seekPercent(slider_->value() * 100 / slider_->maximum());
  bubble_->hide();
  if (playing_)
    connect(this, &ChatMessageItem::signal_playProgress_voice, this,
            &ChatMessageItem::slot_playProgress_voice, Qt::UniqueConnection);
}

void ChatMessageItem::placeBubble(int value) {
  bubble_->setText(chat::clipLengthText(value));
  bubble_->adjustSize();
  const int x = mapFromGlobal(QCursor::pos()).x() - bubble_->width() / 2;
  bubble_->move(qBound(0, x, width() - bubble_->width()), 30);
  bubble_->raise();
}
