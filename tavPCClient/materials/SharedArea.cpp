#include "SharedArea.h"

#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QJsonValue>
#include <QLabel>
#include <QPushButton>
#include <QTransform>

#include "BoardCanvas.h"
#include "ClassroomContext.h"
#include "DataFolder.h"
#include "Download2UI.h"
#include "FormBody.h"
#include "LoginInfo.h"
#include "MediaEventBridge.h"
#include "PhoneLink.h"
#include "PicRenderWidget.h"
#include "QNMessageBox.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "ServiceApi.h"
#include "ShareRules.h"
#include "Upload2UI.h"
#include "libpavo/libpavo.h"
#include "selwbtemplateWndDlg.h"

namespace {

QPushButton* barButton(const char* name, const QString& text, const QString& tip, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setToolTip(tip);
  b->setCursor(Qt::PointingHandCursor);
  b->setFocusPolicy(Qt::NoFocus);
  return b;
}

int intOf(const QJsonObject& msg, const char* key, int fallback = 0) {
  const QJsonValue v = msg.value(QLatin1String(key));
  if (v.isString()) {
    bool ok = false;
    const int n = v.toString().toInt(&ok);
    return ok ? n : fallback;
  }
  return v.isDouble() ? v.toInt(fallback) : fallback;
}

// A file name that stays inside its folder: nothing that climbs out of it.
bool isPlainFileName(const QString& name) {
  return !name.isEmpty() && name.size() <= 200 && !name.contains(QLatin1Char('/')) &&
         !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
         name != QLatin1String("..");
}

constexpr int kMaxPages = 10000;

int validAngle(int angle) {
  return angle == 90 || angle == 180 || angle == 270 ? angle : 0;
}

}  // namespace

SharedArea::SharedArea(ClassroomContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      view_(new PicRenderWidget),
      bar_(new QWidget),
      dataFolder_(DataFolder::path()),
      ticket_(LoginInfo::current().ticket) {
  bar_->setObjectName(QStringLiteral("shareControls"));
  previous_ = barButton("btnPreviousPic", QStringLiteral("上一页"), QStringLiteral("上一页"), bar_);
  goTo_ = new QComboBox(bar_);
  goTo_->setObjectName(QStringLiteral("cmbGoToPic"));
  goTo_->setToolTip(QStringLiteral("跳转到页"));
  next_ = barButton("btnNextPic", QStringLiteral("下一页"), QStringLiteral("下一页"), bar_);
  pageLabel_ = new QLabel(bar_);
  pageLabel_->setObjectName(QStringLiteral("pageLabel"));
  reverse_ = barButton("btnReverseRotate", QStringLiteral("左转"), QStringLiteral("逆时针旋转"), bar_);
  forward_ = barButton("btnForwardRotate", QStringLiteral("右转"), QStringLiteral("顺时针旋转"), bar_);
  adapt_ = barButton("btnPicAdaptWnd", QStringLiteral("实际大小"), QStringLiteral("实际大小显示"), bar_);
  auto* row = new QHBoxLayout(bar_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(6);
  for (QWidget* w : std::initializer_list<QWidget*>{previous_, goTo_, next_, pageLabel_, reverse_,
                                                     forward_, adapt_})
    row->addWidget(w);
  bar_->hide();

  connect(previous_, &QPushButton::clicked, this, &SharedArea::btnPreviousPic_clicked);
  connect(next_, &QPushButton::clicked, this, &SharedArea::btnNextPic_clicked);
  connect(goTo_, qOverload<int>(&QComboBox::activated), this, &SharedArea::btnGoToPic_clicked);
  connect(forward_, &QPushButton::clicked, this, &SharedArea::btnForwardRotate_clicked);
  connect(reverse_, &QPushButton::clicked, this, &SharedArea::btnReverseRotate_clicked);
  connect(adapt_, &QPushButton::clicked, this, &SharedArea::btnPicAdaptWnd_clicked);
  connect(view_, &PicRenderWidget::_mousePress, this, &SharedArea::picDispWidget_mousePress);
  connect(view_, &PicRenderWidget::_mouseMove, this, &SharedArea::picDispWidget_mouseMove);
  connect(view_, &PicRenderWidget::_mouseRelease, this, &SharedArea::picDispWidget_mouseRelease);
  connect(view_, &PicRenderWidget::_resize, this, &SharedArea::picDispWidget_resize);
  connect(view_, &PicRenderWidget::pictureRectChanged, this, &SharedArea::placeCanvas);
  view_->setCanvasShown([this] {
    BoardCanvas* canvas = context_.find<BoardCanvas>();
    return canvas && canvas->canvasShown();
  });

  context_.handleRoomMessages({MSG_BLANK_WHITEBOARD, MSG_SHARE_STATE_QUERY, MSG_SHARE_STATE,
                               MSG_PIC_ROTATE, MSG_PAGE_TURN, MSG_PIC_DRAG, MSG_PIC_FIT,
                               MSG_PIC_RESIZE},
                              this, [this](const QJsonObject& msg) { onRoomMessage(msg); });
  RoomSession& session = context_.session();
  connect(&session, &RoomSession::classStateChanged, this, &SharedArea::classStateChanged);
  connect(&session, &RoomSession::floorsChanged, this, &SharedArea::refreshBar);
  connect(&session, &RoomSession::rolesChanged, this, &SharedArea::refreshBar);
  inform_ = [this](const QString& text) {
    QNMessageBox box(context_.window());
    box.setMessage(text, QStringLiteral("确定"), QString());
    box.exec();
  };
  classStateChanged(session.classInProgress());
}

SharedArea::~SharedArea() {
  // The widgets live in the window's layout; they go with it unless never placed.
  if (view_ && !view_->parent())
    delete view_.data();
  if (bar_ && !bar_->parent())
    delete bar_.data();
}

void SharedArea::listenTo(MediaEventBridge& bridge) {
  const auto q = Qt::QueuedConnection;
  connect(&bridge, &MediaEventBridge::_ss_start_share, this, &SharedArea::ss_start_share, q);
  connect(&bridge, &MediaEventBridge::_start_share_ack, this, &SharedArea::start_share_ack, q);
  connect(&bridge, &MediaEventBridge::_ss_stop_share, this, &SharedArea::ss_stop_share, q);
}

void SharedArea::setDataFolder(const QString& folder) {
  dataFolder_ = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString SharedArea::ownPictureFolder() const {
  return dataFolder_ + QStringLiteral("sharingPic/%1/%2/").arg(context_.roomId()).arg(context_.ownUserId());
}

QString SharedArea::pictureFile(quint32 uploader, const QString& fileName) const {
  return dataFolder_ + QStringLiteral("sharingPic/%1/%2/%3")
                           .arg(QString::number(context_.roomId()), QString::number(uploader), fileName);
}

QString SharedArea::pageFile(const QString& document, int page) const {
  // One pass: a "%" in a document's name stays text.
  return dataFolder_ + QStringLiteral("sharingfiles/%1/%2/%2_%3.png")
                           .arg(QString::number(context_.roomId()), document, QString::number(page));
}

bool SharedArea::isSharer() const {
  return context_.session().room().screenSharerId == qint64(context_.ownUserId());
}

// ---- SharedAreaView ----

QWidget* SharedArea::sharedArea() const { return view_; }
QRect SharedArea::pictureRect() const { return view_->pictureRect(); }
QPixmap SharedArea::shownPixmap() const { return view_->shownPixmap(); }

// ---- the class ----

void SharedArea::classStateChanged(bool running) {
  pending_.reset();
  awaitingAck_ = false;
  if (running) {
    showBlankBoard();
    // A member entering a running class asks whoever shares for what is shown.
    const qint64 sharer = context_.session().room().screenSharerId;
    if (sharer > 0 && sharer != qint64(context_.ownUserId())) {
      QJsonObject query = roommsg::newMessage(MSG_SHARE_STATE_QUERY);
      query.insert(QStringLiteral("sendUserId"), double(context_.ownUserId()));
      context_.sendRoomMsg(query, QString::number(sharer));
    }
  } else {
    state_ = State();
    original_ = QPixmap();
    view_->setPicture(QPixmap(), PicRenderWidget::kStretch);
  }
  refreshBar();
}

void SharedArea::classStopping() {
  pending_.reset();
  awaitingAck_ = false;
}

void SharedArea::showBlankBoard() {
  state_ = State();
  state_.mode = share::kTemplate;
  state_.fileName = QFileInfo(share::blankBoardPath()).fileName();
  showFile(share::blankBoardPath());
  emit sharedDocumentChanged(-1);
}

// ---- taking the sharing right ----

void SharedArea::shareTemplate(const QString& templatePath) {
  if (!context_.session().classInProgress()) {
    context_.toast(QStringLiteral("上课后才可以共享！"));
    return;
  }
  if (!share::templatePaths().contains(templatePath))
    return;
  Pending board;
  board.mode = share::kTemplate;
  board.path = templatePath;
  pending_ = board;
  takeShare();
}

void SharedArea::sharePicture(const QString& sourcePath) {
  if (!context_.session().classInProgress()) {
    context_.toast(QStringLiteral("上课后才可以共享！"));
    return;
  }
  // Frames stay away from the window while the picture is prepared.
  context_.mediaCtrl(media_cmd_video_off);
  const QString folder = ownPictureFolder();
  const QString name =
      share::sharedPictureName(context_.ownUserId(), QDateTime::currentDateTime(), sourcePath);
  qDebug() << "Classroom::sharePictureBasic:" << folder + name;
  const QString prepared = share::preparePicture(sourcePath, folder, name);
  context_.mediaCtrl(media_cmd_video_on);
  if (prepared.isEmpty()) {
    inform_(QStringLiteral("缓存不足，图片加载失败！"));
    return;
  }
  Pending picture;
  picture.mode = share::kPicture;
  picture.path = prepared;
  pending_ = picture;
  takeShare();
}

void SharedArea::onShareChatPic(QString strPicFilePath, bool isZhuShouSrc) {
  fromPhone_ = isZhuShouSrc;
  sharePicture(strPicFilePath);
}

void SharedArea::onSharingDocument(int id, QString fileName, int pages) {
  if (!context_.session().classInProgress()) {
    context_.toast(QStringLiteral("上课后才可以共享！"));
    return;
  }
  if (!isPlainFileName(fileName) || pages < 1 || pages > kMaxPages)
    return;
  Pending doc;
  doc.mode = share::kDocument;
  doc.docId = id;
  doc.document = fileName;
  doc.pages = pages;
  doc.uploader = uploaderOf_.value(id, context_.entry().ownerId);
  pending_ = doc;
  takeShare();
}

void SharedArea::chooseTemplate() {
  selwbtemplateWndDlg dialog(context_.window());
  if (dialog.exec() == QDialog::Accepted && !dialog.chosenTemplate().isEmpty())
    shareTemplate(dialog.chosenTemplate());
}

void SharedArea::choosePicture() {
  const QString path = QFileDialog::getOpenFileName(
      context_.window(), QStringLiteral("选择要共享的图片"), QString(),
      QStringLiteral("图片(*.png *.jpg *.jpeg)"));
  if (!path.isEmpty()) {
    fromPhone_ = false;
    sharePicture(path);
  }
}

void SharedArea::takeShare() {
  // Sharing is the teacher's side's, or the teaching tool's holder's.
  const RoomContext& room = context_.session().room();
  if (!context_.session().hasTeacherRights() && room.toolHolderId != qint64(context_.ownUserId())) {
    pending_.reset();
    context_.toast(QStringLiteral("请先申请教具！"));
    return;
  }
  if (isSharer()) {
    granted();
    return;
  }
  Libpavo* media = context_.media();
  if (!media || !context_.mcuConnected()) {
    pending_.reset();
    context_.toast(QStringLiteral("媒体服务器未连接，无法共享！"));
    return;
  }
  const qint64 sharer = context_.session().room().screenSharerId;
  if (sharer > 0)
    media->stop_share(quint32(sharer));
  awaitingAck_ = true;
  media->start_share();
}

void SharedArea::start_share_ack(int result) {
  if (!awaitingAck_)
    return;
  awaitingAck_ = false;
  if (result != 0) {
    pending_.reset();
    context_.toast(QStringLiteral("共享失败，请稍后再试！"));
    return;
  }
  context_.session().setScreenSharer(context_.ownUserId());
  granted();
}

void SharedArea::ss_start_share(quint32 userId) {
  context_.session().setScreenSharer(userId);
}

void SharedArea::ss_stop_share(quint32 userId) {
  if (context_.session().room().screenSharerId != qint64(userId))
    return;
  context_.session().setScreenSharer(-1);
  if (context_.session().classInProgress())
    showBlankBoard();
}

void SharedArea::granted() {
  if (!pending_)
    return;
  const Pending p = *pending_;
  pending_.reset();
  clearBoard();
  report(QStringLiteral("tool"));
  const quint32 own = context_.ownUserId();
  state_ = State();
  state_.mode = p.mode;
  state_.uploader = own;
  switch (p.mode) {
    case share::kTemplate: {
      state_.fileName = QFileInfo(p.path).fileName();
      showFile(p.path);
      context_.sendRoomMsg(shareStateMessage(), QStringLiteral("*"));
      emit sharedDocumentChanged(-1);
      break;
    }
    case share::kPicture: {
      state_.fileName = QFileInfo(p.path).fileName();
      sharedPicturePath_ = p.path;
      showFile(p.path);
      emit sharedDocumentChanged(-1);
      auto* upload = new Upload2UI(fileServer(), p.path, this);
      connect(upload, &Upload2UI::signalUploadComplete, this,
              [this, upload](QString path, bool ok) {
                upload->deleteLater();
                slot_uploadSharingPicProgress(path, ok);
              });
      if (!upload->start()) {
        upload->deleteLater();
        slot_uploadSharingPicProgress(p.path, false);
      }
      break;
    }
    case share::kDocument: {
      state_.docId = p.docId;
      state_.fileName = p.document;
      state_.uploader = p.uploader;
      state_.page = 1;
      state_.pages = p.pages;
      context_.sendRoomMsg(shareStateMessage(), QStringLiteral("*"));
      showDocumentPage();
      emit sharedDocumentChanged(p.docId);
      break;
    }
    default:
      break;
  }
  refreshBar();
}

void SharedArea::slot_uploadSharingPicProgress(QString path, bool ok) {
  if (!ok) {
    context_.toast(QStringLiteral("教学图片上传失败！"));
    return;
  }
  const bool mayAnnounce = isSharer() || context_.session().room().isAssistant;
  if (path != sharedPicturePath_ || !context_.session().classInProgress() || !mayAnnounce)
    return;
  QJsonObject msg = roommsg::newMessage(MSG_SHARE_STATE);
  msg.insert(QStringLiteral("fileType"), QStringLiteral("2"));
  msg.insert(QStringLiteral("fileName"), QFileInfo(path).fileName());
  msg.insert(QStringLiteral("curRotateAngle"), state_.rotation);
  msg.insert(QStringLiteral("fileUploaderUserId"), double(context_.ownUserId()));
  msg.insert(QStringLiteral("picDispMode"), 0);
  sendAndApply(msg);
}

// ---- the state in messages ----

QJsonObject SharedArea::shareStateMessage() const {
  QJsonObject msg = roommsg::newMessage(MSG_SHARE_STATE);
  msg.insert(QStringLiteral("fileType"), QString::number(state_.mode));
  msg.insert(QStringLiteral("fileName"), state_.fileName);
  msg.insert(QStringLiteral("fileUploaderUserId"), double(state_.uploader));
  msg.insert(QStringLiteral("curRotateAngle"), state_.rotation);
  msg.insert(QStringLiteral("picDispMode"), state_.displayMode);
  if (state_.mode == share::kDocument) {
    msg.insert(QStringLiteral("id"), state_.docId);
    msg.insert(QStringLiteral("curPage"), state_.page);
    msg.insert(QStringLiteral("totalPageCount"), state_.pages);
  }
  if (state_.displayMode == share::kActual)
    msg.insert(QStringLiteral("rect"), share::rectJson(state_.rect));
  return msg;
}

void SharedArea::sendAndApply(const QJsonObject& msg) {
  context_.sendRoomMsg(msg, QStringLiteral("*"));
  // A linked phone follows rotation and pages too.
  const int type = roommsg::typeIdOf(msg).value_or(-1);
  if (type == MSG_PIC_ROTATE || type == MSG_PAGE_TURN)
    if (PhoneLink* phone = context_.find<PhoneLink>())
      phone->sendToPhone(msg);
  onRoomMessage(msg);
}

void SharedArea::onRoomMessage(const QJsonObject& msg) {
  const int type = roommsg::typeIdOf(msg).value_or(-1);
  switch (type) {
    case MSG_SHARE_STATE_QUERY:
      onShareStateQuery(msg);
      return;
    case MSG_SHARE_STATE:
      applyShareState(msg);
      return;
    case MSG_BLANK_WHITEBOARD:
      if (context_.session().classInProgress())
        showBlankBoard();
      return;
    default:
      break;
  }
  if (state_.mode != share::kPicture && state_.mode != share::kDocument)
    return;
  switch (type) {
    case MSG_PIC_ROTATE: {
      const int angle = intOf(msg, "curRotateAngle");
      if (angle != 0 && angle != 90 && angle != 180 && angle != 270)
        return;
      state_.rotation = angle;
      state_.displayMode = share::kFit;
      redisplay();
      break;
    }
    case MSG_PAGE_TURN: {
      const int page = intOf(msg, "curPage", -1);
      if (state_.mode != share::kDocument || page < 1 || page > state_.pages)
        return;
      state_.page = page;
      state_.rotation = 0;
      if (state_.displayMode == share::kActual) {
        const QRect r = share::rectOf(msg);
        state_.rect = QRect(r.x(), 0, r.width(), r.height());
      }
      showDocumentPage();
      break;
    }
    case MSG_PIC_DRAG:
      state_.rect = share::rectOf(msg);
      if (state_.displayMode == share::kActual)
        redisplay();
      break;
    case MSG_PIC_FIT:
      state_.displayMode = intOf(msg, "picDispMode") == share::kActual ? share::kActual : share::kFit;
      if (state_.displayMode == share::kActual)
        state_.rect = share::rectOf(msg);
      redisplay();
      break;
    case MSG_PIC_RESIZE:
      if (state_.displayMode == share::kActual) {
        state_.rect = share::rectOf(msg);
        redisplay();
      }
      break;
    default:
      break;
  }
}

void SharedArea::onShareStateQuery(const QJsonObject& msg) {
  const quint32 asker = quint32(intOf(msg, "sendUserId"));
  if (!isSharer() || asker == 0 || asker == context_.ownUserId() || state_.mode == share::kNone)
    return;
  context_.sendRoomMsg(shareStateMessage(), QString::number(asker));
}

void SharedArea::applyShareState(const QJsonObject& msg) {
  if (!context_.session().classInProgress())
    return;
  const int mode = intOf(msg, "fileType");
  const QString fileName = msg.value(QStringLiteral("fileName")).toString();
  if (!isPlainFileName(fileName))
    return;
  const quint32 uploader = quint32(intOf(msg, "fileUploaderUserId"));
  switch (mode) {
    case share::kTemplate: {
      const QString path = QStringLiteral("./wbtemplete/") + fileName;
      if (!share::templatePaths().contains(path))
        return;
      state_ = State();
      state_.mode = mode;
      state_.fileName = fileName;
      state_.uploader = uploader;
      showFile(path);
      emit sharedDocumentChanged(-1);
      break;
    }
    case share::kPicture: {
      state_ = State();
      state_.mode = mode;
      state_.fileName = fileName;
      state_.uploader = uploader;
      state_.rotation = validAngle(intOf(msg, "curRotateAngle"));
      state_.displayMode = intOf(msg, "picDispMode") == share::kActual ? share::kActual : share::kFit;
      if (state_.displayMode == share::kActual)
        state_.rect = share::rectOf(msg);
      emit sharedDocumentChanged(-1);
      if (uploader == context_.ownUserId()) {
        showFile(sharedPicturePath_.isEmpty() ? pictureFile(uploader, fileName) : sharedPicturePath_);
        break;
      }
      const QString local = pictureFile(uploader, fileName);
      if (QFileInfo::exists(local)) {
        showFile(local);
        break;
      }
      waitingFor_ = local;
      QDir().mkpath(QFileInfo(local).absolutePath());
      auto* download = new Download2UI(fileServer(), uploader, local, this);
      const bool phone = fromPhone_;
      connect(download, &Download2UI::signalDownloadProgress, this,
              [this, phone](int percent, QString path) {
                slot_downloadSharingPicProgress(percent, path, phone);
              });
      if (!download->start()) {
        download->deleteLater();
        slot_downloadSharingPicProgress(-1, local, phone);
      }
      break;
    }
    case share::kDocument: {
      const int pages = intOf(msg, "totalPageCount");
      const int page = intOf(msg, "curPage", 1);
      if (pages < 1 || pages > kMaxPages || page < 1 || page > pages)
        return;
      state_ = State();
      state_.mode = mode;
      state_.fileName = fileName;
      state_.uploader = uploader;
      state_.docId = intOf(msg, "id", -1);
      state_.rotation = validAngle(intOf(msg, "curRotateAngle"));
      state_.page = page;
      state_.pages = pages;
      state_.displayMode = intOf(msg, "picDispMode") == share::kActual ? share::kActual : share::kFit;
      if (state_.displayMode == share::kActual)
        state_.rect = share::rectOf(msg);
      emit sharedDocumentChanged(state_.docId);
      showDocumentPage();
      break;
    }
    default:
      return;
  }
  refreshBar();
}

// ---- showing ----

bool SharedArea::showFile(const QString& path) {
  QImageReader reader(path);
  const QImage image = reader.read();
  if (image.isNull()) {
    context_.toast(QStringLiteral("不支持的图片格式"));
    return false;
  }
  original_ = QPixmap::fromImage(image);
  shownPath_ = path;
  redisplay();
  return true;
}

QSize SharedArea::areaSize() const {
  return view_->size();
}

QSize SharedArea::rotatedSize() const {
  const QSize size = original_.size();
  return state_.rotation == 90 || state_.rotation == 270 ? size.transposed() : size;
}

void SharedArea::redisplay() {
  if (original_.isNull())
    return;
  if (state_.mode == share::kTemplate || state_.mode == share::kNone) {
    view_->setPicture(original_, PicRenderWidget::kStretch);
    refreshBar();
    return;
  }
  const QPixmap rotated =
      state_.rotation == 0 ? original_
                           : original_.transformed(QTransform().rotate(state_.rotation),
                                                   Qt::SmoothTransformation);
  if (state_.displayMode == share::kActual) {
    const QRect part = state_.rect.intersected(QRect(QPoint(0, 0), rotated.size()));
    view_->setPicture(part.isEmpty() ? rotated : rotated.copy(part), PicRenderWidget::kActual);
  } else {
    view_->setPicture(rotated, PicRenderWidget::kFit);
  }
  refreshBar();
}

void SharedArea::showDocumentPage() {
  const QString local = pageFile(state_.fileName, state_.page);
  if (QFileInfo::exists(local)) {
    showFile(local);
  } else {
    waitingFor_ = local;
    fetchPage(state_.page, true);
  }
  // The next page is fetched before anybody turns to it.
  if (state_.page < state_.pages && !QFileInfo::exists(pageFile(state_.fileName, state_.page + 1)))
    fetchPage(state_.page + 1, false);
  pageLabel_->setText(QStringLiteral("第%1页 / 共%2页").arg(state_.page).arg(state_.pages));
}

void SharedArea::fetchPage(int page, bool showWhenDone) {
  const QString local = pageFile(state_.fileName, page);
  if (state_.uploader == 0 || state_.uploader == context_.ownUserId()) {
    if (showWhenDone)
      slot_downloadDocPageProgress(-1, local);
    return;
  }
  QDir().mkpath(QFileInfo(local).absolutePath());
  auto* download = new Download2UI(fileServer(), state_.uploader, local, this);
  // A page fetched ahead reports like any other; only the awaited one is shown.
  connect(download, &Download2UI::signalDownloadProgress, this,
          &SharedArea::slot_downloadDocPageProgress);
  if (!download->start()) {
    download->deleteLater();
    slot_downloadDocPageProgress(-1, local);
  }
}

void SharedArea::slot_downloadSharingPicProgress(int percent, QString path, bool bZhuShouSrc) {
  Q_UNUSED(bZhuShouSrc)
  if (percent < 0) {
    if (path == waitingFor_)
      context_.toast(QStringLiteral("教学图片下载失败"));
    return;
  }
  if (percent < 100 || path != waitingFor_)
    return;
  waitingFor_.clear();
  showFile(path);
}

void SharedArea::slot_downloadDocPageProgress(int percent, QString path) {
  if (percent < 0) {
    if (path == waitingFor_)
      context_.toast(QStringLiteral("教案页下载失败!"));
    return;
  }
  if (percent < 100 || path != waitingFor_)
    return;
  waitingFor_.clear();
  showFile(path);
}

void SharedArea::refreshBar() {
  const bool picture = state_.mode == share::kPicture || state_.mode == share::kDocument;
  const bool steering = picture && isSharer() && context_.session().classInProgress();
  bar_->setVisible(steering);
  view_->setControlling(steering);
  const bool document = state_.mode == share::kDocument;
  previous_->setVisible(document);
  next_->setVisible(document);
  goTo_->setVisible(document);
  pageLabel_->setVisible(document);
  if (document && goTo_->count() != state_.pages) {
    const QSignalBlocker quiet(goTo_);
    goTo_->clear();
    for (int i = 1; i <= state_.pages; ++i)
      goTo_->addItem(QStringLiteral("第%1页").arg(i));
  }
  if (document) {
    const QSignalBlocker quiet(goTo_);
    goTo_->setCurrentIndex(state_.page - 1);
    pageLabel_->setText(QStringLiteral("第%1页 / 共%2页").arg(state_.page).arg(state_.pages));
  }
  // Fit or actual size only matters for a picture larger than the area.
  const QSize rotated = rotatedSize();
  const QSize area = areaSize();
  const bool larger = picture && !original_.isNull() &&
                      (rotated.width() > area.width() || rotated.height() > area.height());
  adapt_->setVisible(larger);
  const bool actual = state_.displayMode == share::kActual;
  adapt_->setText(actual ? QStringLiteral("适应窗口") : QStringLiteral("实际大小"));
  adapt_->setToolTip(actual ? QStringLiteral("适应窗口显示") : QStringLiteral("实际大小显示"));
}

// ---- the sharer's controls ----

void SharedArea::btnForwardRotate_clicked() {
  if (!isSharer() || original_.isNull())
    return;
  QJsonObject msg = roommsg::newMessage(MSG_PIC_ROTATE);
  msg.insert(QStringLiteral("curRotateAngle"), share::rotatedForward(state_.rotation));
  sendAndApply(msg);
  clearBoard();
}

void SharedArea::btnReverseRotate_clicked() {
  if (!isSharer() || original_.isNull())
    return;
  QJsonObject msg = roommsg::newMessage(MSG_PIC_ROTATE);
  msg.insert(QStringLiteral("curRotateAngle"), share::rotatedBack(state_.rotation));
  sendAndApply(msg);
  clearBoard();
}

void SharedArea::sendPageTurn(int page) {
  QJsonObject msg = roommsg::newMessage(MSG_PAGE_TURN);
  msg.insert(QStringLiteral("curPage"), page);
  msg.insert(QStringLiteral("rect"), share::rectJson(QRect(state_.rect.x(), 0, state_.rect.width(),
                                                           state_.rect.height())));
  sendAndApply(msg);
  clearBoard();
}

void SharedArea::btnNextPic_clicked() {
  if (!isSharer() || state_.mode != share::kDocument)
    return;
  const share::PageTurn turn = share::nextPage(state_.page, state_.pages);
  if (!turn.send)
    return;
  sendPageTurn(turn.page);
}

void SharedArea::btnPreviousPic_clicked() {
  if (!isSharer() || state_.mode != share::kDocument)
    return;
  const share::PageTurn turn = share::previousPage(state_.page);
  if (!turn.send)
    return;
  sendPageTurn(turn.page);
}

void SharedArea::btnGoToPic_clicked(int index) {
  if (!isSharer() || state_.mode != share::kDocument)
    return;
  const share::PageTurn turn = share::goToPage(index, state_.pages);
  if (!turn.send || turn.page == state_.page) {
    refreshBar();
    return;
  }
  sendPageTurn(turn.page);
}

void SharedArea::btnPicAdaptWnd_clicked() {
  if (!isSharer() || original_.isNull())
    return;
  QJsonObject msg = roommsg::newMessage(MSG_PIC_FIT);
  if (state_.displayMode == share::kActual) {
    msg.insert(QStringLiteral("picDispMode"), share::kFit);
  } else {
    msg.insert(QStringLiteral("picDispMode"), share::kActual);
    msg.insert(QStringLiteral("rect"),
               share::rectJson(share::visibleRect(rotatedSize(), areaSize())));
  }
  sendAndApply(msg);
}

void SharedArea::picDispWidget_mousePress() {}

void SharedArea::picDispWidget_mouseMove(int dx, int dy) {
  if (!isSharer() || state_.displayMode != share::kActual)
    return;
  const std::optional<QRect> moved = share::dragged(state_.rect, dx, dy, rotatedSize());
  if (!moved)
    return;
  QJsonObject msg = roommsg::newMessage(MSG_PIC_DRAG);
  msg.insert(QStringLiteral("mouseEvent"), 1);
  msg.insert(QStringLiteral("rect"), share::rectJson(*moved));
  sendAndApply(msg);
}

void SharedArea::picDispWidget_mouseRelease() {}

void SharedArea::picDispWidget_resize(int width, int height) {
  refreshBar();
  if (!isSharer() || state_.displayMode != share::kActual || original_.isNull())
    return;
  const QRect resized =
      share::visibleRect(rotatedSize(), QSize(width, height), state_.rect.topLeft());
  if (resized == state_.rect)
    return;
  QJsonObject msg = roommsg::newMessage(MSG_PIC_RESIZE);
  msg.insert(QStringLiteral("sendUserId"), double(context_.ownUserId()));
  msg.insert(QStringLiteral("rect"), share::rectJson(resized));
  sendAndApply(msg);
}

// ---- what the others offer ----

void SharedArea::clearBoard() {
  if (BoardCanvas* canvas = context_.find<BoardCanvas>())
    canvas->clearBoard();
}

void SharedArea::placeCanvas() {
  if (BoardCanvas* canvas = context_.find<BoardCanvas>())
    canvas->placeCanvas();
}

void SharedArea::report(const QString& type) {
  context_.post(ServiceApi::kAddHistory,
                FormBody(ServiceApi::kAddHistory.body)
                    .arg(type)
                    .arg(context_.roomId())
                    .arg(context_.ownUserId()),
                &context_, [](QJsonObject) {});
}

transfer::FileServer SharedArea::fileServer() const {
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
