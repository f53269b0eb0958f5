#include "SharedArea.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QTransform>

#include "BoardCanvas.h"
#include "ClassroomContext.h"
#include "FormBody.h"
#include "LocalConfig.h"
#include "MediaEventBridge.h"
#include "PhoneLink.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "ServiceApi.h"
#include "ShareControlBar.h"
#include "ShareRules.h"
#include "SharedFiles.h"
#include "selwbtemplateWndDlg.h"

SharedArea::SharedArea(ClassroomContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      right_(context.shareRight()),
      frames_(context.frameDelivery()),
      model_(new ShareState(context.ownUserId(), this)),
      files_(new SharedFiles(context, this)),
      view_(new PicRenderWidget),
      bar_(new ShareControlBar) {
  connect(model_, &ShareState::sharedDocumentChanged, this, &SharedArea::sharedDocumentChanged);
  connect(files_, &SharedFiles::pictureUploaded, this, &SharedArea::slot_uploadSharingPicProgress);
  connect(files_, &SharedFiles::pictureProgress, this, [this](int percent, QString path) {
    slot_downloadSharingPicProgress(percent, path, fromPhone_);
  });
  connect(files_, &SharedFiles::pageProgress, this, &SharedArea::slot_downloadDocPageProgress);

  connect(bar_, &ShareControlBar::previousClicked, this, &SharedArea::btnPreviousPic_clicked);
  connect(bar_, &ShareControlBar::nextClicked, this, &SharedArea::btnNextPic_clicked);
  connect(bar_, &ShareControlBar::pageChosen, this, &SharedArea::btnGoToPic_clicked);
  connect(bar_, &ShareControlBar::forwardClicked, this, &SharedArea::btnForwardRotate_clicked);
  connect(bar_, &ShareControlBar::reverseClicked, this, &SharedArea::btnReverseRotate_clicked);
  connect(bar_, &ShareControlBar::adaptClicked, this, &SharedArea::btnPicAdaptWnd_clicked);
  connect(view_, &PicRenderWidget::_mousePress, this, &SharedArea::picDispWidget_mousePress);
  connect(view_, &PicRenderWidget::_mouseMove, this, &SharedArea::picDispWidget_mouseMove);
  connect(view_, &PicRenderWidget::_mouseRelease, this, &SharedArea::picDispWidget_mouseRelease);
  connect(view_, &PicRenderWidget::_resize, this, &SharedArea::picDispWidget_resize);
  connect(view_, &PicRenderWidget::pictureRectChanged, this, &SharedArea::placeCanvas);
  view_->setCanvasShown([this] {
    BoardCanvas* canvas = context_.find<BoardCanvas>();
    return canvas && canvas->canvasShown();
  });

  context_.handleRoomMessages(
      {MSG_BLANK_WHITEBOARD, MSG_SHARE_STATE_QUERY, MSG_SHARE_STATE, MSG_PIC_ROTATE, MSG_PAGE_TURN,
       MSG_PIC_DRAG, MSG_PIC_FIT, MSG_PIC_RESIZE},
      this, [this](const QJsonObject& msg) { onRoomMessage(msg); });
  RoomSession& session = context_.session();
  connect(&session, &RoomSession::classStateChanged, this, &SharedArea::classStateChanged);
  connect(&session, &RoomSession::floorsChanged, this, &SharedArea::refreshBar);
  connect(&session, &RoomSession::rolesChanged, this, &SharedArea::refreshBar);
  // What it shared as an assistant ends with the right (unless it holds the
  // teaching tool, which is its own).
  connect(&session, &RoomSession::assistantRevoked, this, [this] {
    const quint32 own = context_.ownUserId();
    if (isSharer() && !context_.session().hasTeacherRights() &&
        context_.session().room().toolHolderId != qint64(own))
      right_.stopShare(own);
  });
  classStateChanged(session.classInProgress());
  context_.provide<SharedContent>(this);
}

SharedArea::~SharedArea() {
  context_.withdraw<SharedContent>(this);
  // The widgets live in the window's layout; they go with it unless never placed.
  if (view_ && !view_->parent())
    delete view_.data();
  if (bar_ && !bar_->parent())
    delete bar_.data();
}

QWidget* SharedArea::controlBar() const {
  return bar_;
}

void SharedArea::listenTo(MediaEventBridge& bridge) {
  const auto q = Qt::QueuedConnection;
  connect(&bridge, &MediaEventBridge::_ss_start_share, this, &SharedArea::ss_start_share, q);
  connect(&bridge, &MediaEventBridge::_start_share_ack, this, &SharedArea::start_share_ack, q);
  connect(&bridge, &MediaEventBridge::_ss_stop_share, this, &SharedArea::ss_stop_share, q);
}

void SharedArea::setDataFolder(const QString& folder) {
  files_->setDataFolder(folder);
}
QString SharedArea::dataFolder() const {
  return files_->dataFolder();
}
void SharedArea::setTicket(const QString& ticket) {
  files_->setTicket(ticket);
}
QString SharedArea::ownPictureFolder() const {
  return files_->ownPictureFolder();
}
QString SharedArea::pictureFile(quint32 uploader, const QString& fileName) const {
  return files_->pictureFile(uploader, fileName);
}
QString SharedArea::pageFile(const QString& document, int page) const {
  return files_->pageFile(document, page);
}

bool SharedArea::isSharer() const {
  return context_.session().room().screenSharerId == qint64(context_.ownUserId());
}

// ---- SharedAreaView ----

QWidget* SharedArea::sharedArea() const {
  return view_;
}
QRect SharedArea::pictureRect() const {
  return view_->pictureRect();
}
QPixmap SharedArea::shownPixmap() const {
  return view_->shownPixmap();
}

// ---- the class ----

void SharedArea::classStateChanged(bool running) {
  model_->dropPending();
  awaitingAck_ = false;
  if (running) {
    showBlankBoard();
    // A member entering a running class asks whoever shares for what is shown.
    const qint64 sharer = context_.session().room().screenSharerId;
    if (sharer > 0 && sharer != qint64(context_.ownUserId()))
      context_.sendRoomMsg(model_->queryMessage(), QString::number(sharer));
  } else {
    model_->clear();
    original_ = QPixmap();
    shownFile_.clear();
    view_->setPicture(QPixmap(), PicRenderWidget::kStretch);
  }
  refreshBar();
}

void SharedArea::classStopping() {
  model_->dropPending();
  awaitingAck_ = false;
}

void SharedArea::showBlankBoard() {
  model_->showBlankBoard(QFileInfo(share::blankBoardPath()).fileName());
  showFile(share::blankBoardPath());
}

// ---- taking the sharing right ----

void SharedArea::shareTemplate(const QString& templatePath) {
  if (!context_.session().classInProgress()) {
    context_.toast(QStringLiteral("上课后才可以共享！"));
    return;
  }
  if (!share::templatePaths().contains(templatePath))
    return;
  ShareState::Pending board;
  board.mode = share::kTemplate;
  board.path = templatePath;
  model_->setPending(board);
  takeShare();
}

void SharedArea::sharePicture(const QString& sourcePath) {
  if (!context_.session().classInProgress()) {
    context_.toast(QStringLiteral("上课后才可以共享！"));
    return;
  }
  if (share::tooLargeToShare(sourcePath)) {
    context_.dialogs().inform(
        QStringLiteral("图片尺寸过大（最大%1×%1像素），无法共享！").arg(share::kMaxSourceSide));
    return;
  }
  // Frames stay away from the window while the picture is prepared.
  frames_.pauseFrames();
  const QString folder = files_->ownPictureFolder();
  const QString name =
      share::sharedPictureName(context_.ownUserId(), QDateTime::currentDateTime(), sourcePath);
  qDebug() << "Classroom::sharePictureBasic:" << folder + name;
  const QString prepared = share::preparePicture(sourcePath, folder, name);
  frames_.resumeFrames();
  if (prepared.isEmpty()) {
    context_.dialogs().inform(QStringLiteral("缓存不足，图片加载失败！"));
    return;
  }
  ShareState::Pending picture;
  picture.mode = share::kPicture;
  picture.path = prepared;
  model_->setPending(picture);
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
  if (!ShareState::isPlainFileName(fileName) || pages < 1 || pages > ShareState::kMaxPages)
    return;
  ShareState::Pending doc;
  doc.mode = share::kDocument;
  doc.docId = id;
  doc.document = fileName;
  doc.pages = pages;
  doc.uploader = uploaderOf_.value(id, context_.entry().ownerId);
  model_->setPending(doc);
  takeShare();
}

void SharedArea::chooseTemplate() {
  selwbtemplateWndDlg dialog(context_.window());
  if (dialog.exec() == QDialog::Accepted && !dialog.chosenTemplate().isEmpty())
    shareTemplate(dialog.chosenTemplate());
}

void SharedArea::choosePicture() {
  // Opens where the last picture (shared or sent in the chat) came from.
  LocalConfig* config = LocalConfig::instance();
  const QString path = QFileDialog::getOpenFileName(
      context_.window(), QStringLiteral("选择要共享的图片"), config->picFileBrowsePath(),
      QStringLiteral("图片(*.png *.jpg *.jpeg)"));
  if (path.isEmpty())
    return;
  config->setPicFileBrowsePath(QFileInfo(path).absolutePath());
  fromPhone_ = false;
  sharePicture(path);
}

void SharedArea::takeShare() {
  // Sharing is the teacher's side's, or the teaching tool's holder's.
  const RoomContext& room = context_.session().room();
  if (!context_.session().hasTeacherRights() && room.toolHolderId != qint64(context_.ownUserId())) {
    model_->dropPending();
    context_.toast(QStringLiteral("请先申请教具！"));
    return;
  }
  if (isSharer()) {
    granted();
    return;
  }
  if (!context_.hasMedia() || !context_.mcuConnected()) {
    model_->dropPending();
    context_.toast(QStringLiteral("媒体服务器未连接，无法共享！"));
    return;
  }
  const qint64 sharer = context_.session().room().screenSharerId;
  if (sharer > 0)
    right_.stopShare(quint32(sharer));
  awaitingAck_ = true;
  right_.startShare();
}

void SharedArea::start_share_ack(int result) {
  if (!awaitingAck_)
    return;
  awaitingAck_ = false;
  if (result != 0) {
    model_->dropPending();
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
  const std::optional<ShareState::Pending> pending = model_->takePending();
  if (!pending)
    return;
  clearBoard();
  report(QStringLiteral("tool"));
  // Frames stay away from the window while the shared file is decoded and shown.
  frames_.pauseFrames();
  switch (pending->mode) {
    case share::kTemplate:
      model_->startOwnTemplate(QFileInfo(pending->path).fileName());
      showFile(pending->path);
      context_.sendRoomMsg(model_->stateMessage(), QStringLiteral("*"));
      break;
    case share::kPicture:
      model_->startOwnPicture(QFileInfo(pending->path).fileName());
      sharedPicturePath_ = pending->path;
      showFile(pending->path);
      // Announced once the others can fetch it.
      files_->uploadPicture(pending->path);
      break;
    case share::kDocument:
      model_->startOwnDocument(*pending);
      context_.sendRoomMsg(model_->stateMessage(), QStringLiteral("*"));
      showDocumentPage();
      break;
    default:
      break;
  }
  frames_.resumeFrames();
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
  sendAndApply(model_->pictureUploadedMessage(QFileInfo(path).fileName()));
}

// ---- the room's share messages ----

void SharedArea::sendAndApply(const QJsonObject& msg) {
  context_.sendRoomMsg(msg, QStringLiteral("*"));
  // A linked phone follows rotation and pages too.
  const int type = roommsg::typeIdOf(msg).value_or(-1);
  if (type == MSG_PIC_ROTATE || type == MSG_PAGE_TURN)
    if (PhoneLink* phone = context_.find<PhoneLink>())
      phone->sendShareControl(msg);
  onRoomMessage(msg);
}

void SharedArea::onRoomMessage(const QJsonObject& msg) {
  switch (roommsg::typeIdOf(msg).value_or(-1)) {
    case MSG_SHARE_STATE_QUERY:
      if (const quint32 asker = model_->askerToAnswer(msg, isSharer()))
        context_.sendRoomMsg(model_->stateMessage(), QString::number(asker));
      return;
    case MSG_BLANK_WHITEBOARD:
      if (context_.session().classInProgress())
        showBlankBoard();
      return;
    default:
      follow(model_->apply(msg, context_.session().classInProgress()));
  }
}

void SharedArea::follow(ShareState::Change change) {
  if (change == ShareState::kNewPlacement)
    redisplay();
  else if (change == ShareState::kNewFile)
    showSharedFile();
}

void SharedArea::showSharedFile() {
  const State& state = model_->state();
  switch (state.mode) {
    case share::kTemplate:
      showFile(QStringLiteral("./wbtemplete/") + state.fileName);
      break;
    case share::kPicture: {
      if (state.uploader == context_.ownUserId()) {
        showFile(sharedPicturePath_.isEmpty() ? files_->pictureFile(state.uploader, state.fileName)
                                              : sharedPicturePath_);
        break;
      }
      const QString local = files_->pictureFile(state.uploader, state.fileName);
      if (QFileInfo::exists(local)) {
        showFile(local);
        break;
      }
      waitingFor_ = local;
      files_->fetchPicture(state.uploader, local);
      break;
    }
    case share::kDocument:
      showDocumentPage();
      break;
    default:
      break;
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
  shownFile_ = path;
  redisplay();
  // A linked phone shows what the class sees, in the state it is shown in.
  if (PhoneLink* phone = context_.find<PhoneLink>()) {
    phone->sendShareControl(shareStateMessage());
    phone->sendShownFile(path);
  }
  return true;
}

QJsonObject SharedArea::shareStateMessage() const {
  if (context_.session().room().screenSharerId <= 0) {
    QJsonObject blank = roommsg::newMessage(MSG_SHARE_STATE);
    blank.insert(QStringLiteral("fileType"), QStringLiteral("1"));
    blank.insert(QStringLiteral("fileName"), QStringLiteral("whitepaper"));
    return blank;
  }
  return model_->stateMessage();
}

QSize SharedArea::areaSize() const {
  return view_->size();
}

QSize SharedArea::rotatedSize() const {
  const QSize size = original_.size();
  const int rotation = model_->state().rotation;
  return rotation == 90 || rotation == 270 ? size.transposed() : size;
}

void SharedArea::redisplay() {
  if (original_.isNull())
    return;
  const State& state = model_->state();
  if (!model_->showsPicture()) {
    view_->setPicture(original_, PicRenderWidget::kStretch);
    refreshBar();
    return;
  }
  const QPixmap rotated =
      state.rotation == 0
          ? original_
          : original_.transformed(QTransform().rotate(state.rotation), Qt::SmoothTransformation);
  const share::Presentation shown =
      share::presentation(true, state.displayMode, state.rect, rotated.size());
  view_->setPicture(shown.part == rotated.rect() ? rotated : rotated.copy(shown.part),
                    PicRenderWidget::Placement(shown.placement));
  refreshBar();
}

void SharedArea::showDocumentPage() {
  const State& state = model_->state();
  const QString local = files_->pageFile(state.fileName, state.page);
  if (QFileInfo::exists(local)) {
    showFile(local);
  } else {
    waitingFor_ = local;
    fetchPage(state.page, true);
  }
  // The next page is fetched before anybody turns to it.
  if (state.page < state.pages &&
      !QFileInfo::exists(files_->pageFile(state.fileName, state.page + 1)))
    fetchPage(state.page + 1, false);
  refreshBar();
}

void SharedArea::fetchPage(int page, bool showWhenDone) {
  const State& state = model_->state();
  const QString local = files_->pageFile(state.fileName, page);
  if (state.uploader == 0 || state.uploader == context_.ownUserId()) {
    if (showWhenDone)
      slot_downloadDocPageProgress(-1, local);
    return;
  }
  // A page fetched ahead reports like any other; only the awaited one is shown.
  files_->fetchPage(state.uploader, local);
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
  const bool steering =
      model_->showsPicture() && isSharer() && context_.session().classInProgress();
  bar_->setVisible(steering);
  view_->setControlling(steering);
  const QSize rotated = rotatedSize();
  const QSize area = areaSize();
  const bool larger = model_->showsPicture() && !original_.isNull() &&
                      (rotated.width() > area.width() || rotated.height() > area.height());
  bar_->showFor(model_->state(), larger);
}

// ---- the sharer's controls ----

void SharedArea::btnForwardRotate_clicked() {
  if (!isSharer() || original_.isNull())
    return;
  sendAndApply(model_->rotateMessage(true));
  clearBoard();
}

void SharedArea::btnReverseRotate_clicked() {
  if (!isSharer() || original_.isNull())
    return;
  sendAndApply(model_->rotateMessage(false));
  clearBoard();
}

void SharedArea::btnNextPic_clicked() {
  if (!isSharer())
    return;
  if (const std::optional<QJsonObject> turn = model_->nextPageMessage()) {
    sendAndApply(*turn);
    clearBoard();
  }
}

void SharedArea::btnPreviousPic_clicked() {
  if (!isSharer())
    return;
  if (const std::optional<QJsonObject> turn = model_->previousPageMessage()) {
    sendAndApply(*turn);
    clearBoard();
  }
}

void SharedArea::btnGoToPic_clicked(int index) {
  if (!isSharer() || model_->state().mode != share::kDocument)
    return;
  const share::PageTurn turn = share::goToPage(index, model_->state().pages);
  const std::optional<QJsonObject> msg =
      turn.send ? model_->pageTurnMessage(turn.page) : std::nullopt;
  if (!msg) {
    refreshBar();
    return;
  }
  sendAndApply(*msg);
  clearBoard();
}

void SharedArea::btnPicAdaptWnd_clicked() {
  if (!isSharer() || original_.isNull())
    return;
  sendAndApply(model_->fitMessage(rotatedSize(), areaSize()));
}

void SharedArea::picDispWidget_mousePress() {}

void SharedArea::picDispWidget_mouseMove(int dx, int dy) {
  if (!isSharer())
    return;
  if (const std::optional<QJsonObject> drag = model_->dragMessage(dx, dy, rotatedSize()))
    sendAndApply(*drag);
}

void SharedArea::picDispWidget_mouseRelease() {}

void SharedArea::picDispWidget_resize(int width, int height) {
  refreshBar();
  if (!isSharer() || original_.isNull())
    return;
  if (const std::optional<QJsonObject> resized =
          model_->resizeMessage(rotatedSize(), QSize(width, height)))
    sendAndApply(*resized);
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
  context_.service().post(ServiceApi::kAddHistory,
                          FormBody(ServiceApi::kAddHistory.body)
                              .arg(type)
                              .arg(context_.roomId())
                              .arg(context_.ownUserId()),
                          &context_, [](QJsonObject) {});
}
