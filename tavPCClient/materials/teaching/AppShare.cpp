#include "AppShare.h"

#include <QCoreApplication>
#include <QDebug>

#include "AppShareView.h"
#include "AppWindowHost.h"
#include "BoardCanvas.h"
#include "ClassroomContext.h"
#include "SelSharedWndDlg.h"

AppShare::AppShare(ClassroomContext& context, QObject* parent)
    : QObject(parent), context_(context), windowSource_(&platform::desktopWindows) {
  watch_.setInterval(kWatchMs);
  connect(&watch_, &QTimer::timeout, this, &AppShare::watch);
  // The sharing right went elsewhere (another sharer, the teacher ended it):
  // the media server has moved on, only the window goes back.
  connect(&context_.session(), &RoomSession::floorsChanged, this, [this] {
    if (sharing() && context_.session().room().screenSharerId != qint64(context_.ownUserId()))
      finish(false);
    else
      followWriting();
  });
}

AppShare::~AppShare() {
  delete dialog_.data();
  if (host_)
    host_->release(platform::windowState(window_.handle) != platform::WindowState::Gone);
}

SelSharedWndDlg* AppShare::dialog() const {
  return dialog_;
}

void AppShare::chooseApplication() {
  RoomSession& session = context_.session();
  if (!session.classInProgress()) {
    context_.toast(QStringLiteral("上课后才可以共享！"));
    return;
  }
  if (!session.hasTeacherRights() && session.room().toolHolderId != qint64(context_.ownUserId())) {
    context_.toast(QStringLiteral("请先申请教具！"));
    return;
  }
  if (!platform::canShareWindows()) {
    context_.toast(QStringLiteral("共享应用需要X11桌面，当前桌面不支持！"));
    return;
  }
  const auto windows =
      SelSharedWndDlg::shareable(windowSource_(), long(QCoreApplication::applicationPid()));
  auto* dialog = new SelSharedWndDlg(
      windows, [this](const QString& text) { context_.toast(text); }, context_.window());
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog_ = dialog;
  connect(dialog, &QDialog::accepted, this, [this, dialog] { shareWindow(dialog->chosen()); });
  dialog->open();
}

bool AppShare::shareWindow(const platform::DesktopWindow& window) {
  auto* view = context_.find<AppShareView>();
  if (!view || !context_.hasMedia() || !context_.mcuConnected())
    return false;
  FrameDelivery& frames = context_.frameDelivery();
  frames.pauseFrames();
  if (window.handle == 0 || platform::windowState(window.handle) == platform::WindowState::Gone) {
    frames.resumeFrames();
    return false;
  }
  if (sharing())
    finish(false);
  // A new share starts on a clean board, for everybody.
  if (BoardCanvas* board = context_.find<BoardCanvas>())
    board->clearBoard();
  RoomSession& session = context_.session();
  const quint32 own = context_.ownUserId();
  const qint64 sharer = session.room().screenSharerId;
  if (sharer > 0 && sharer != qint64(own))
    context_.shareRight().stopShare(quint32(sharer));
  window_ = window;
  auto* host = new AppWindowHost(
      window.handle, QRect(window.x, window.y, window.width, window.height), view->appHost());
  host_ = host;
  session.setScreenSharer(own);
  context_.shareRight().startShare();
  view->setEmbedded(host);
  QCoreApplication::processEvents();
  context_.screenShare().shareSource(qint64(window.handle), true);
  if (BoardCanvas* board = context_.find<BoardCanvas>())
    board->placeCanvas();
  session.setShareType(3, window.handle);
  frames.resumeFrames();
  watch_.start();
  qInfo() << "application share:" << QString::fromStdString(window.title) << "window"
          << window.handle;
  return true;
}

void AppShare::followWriting() {
  if (!sharing())
    return;
  const bool writing = context_.session().room().annotatingId == qint64(context_.ownUserId());
  if (writing == still_)
    return;
  still_ = writing;
  auto* view = context_.find<AppShareView>();
  if (writing) {
    // The last picture is taken while the program is still on screen.
    context_.screenShare().shareSource(qint64(window_.handle), false);
    if (view)
      view->setStill(true);
  } else {
    if (view)
      view->setStill(false);
    // Once the stage shows the program again, so the capture finds it on screen.
    QTimer::singleShot(0, this, [this] {
      if (sharing() && !still_)
        context_.screenShare().shareSource(qint64(window_.handle), true);
    });
  }
  if (BoardCanvas* board = context_.find<BoardCanvas>())
    board->placeCanvas();
}

void AppShare::watch() {
  if (!sharing())
    return;
  const platform::WindowState state = platform::windowState(window_.handle);
  // Hidden by the stage itself while the board is written over its picture.
  if (state == platform::WindowState::Shown || (still_ && state == platform::WindowState::Hidden))
    return;
  qInfo() << "application share: the shared window"
          << (state == platform::WindowState::Gone ? "closed" : "was hidden") << "; sharing ends";
  endShare();
}

void AppShare::endShare() {
  if (sharing())
    finish(true);
}

void AppShare::finish(bool stopRight) {
  watch_.stop();
  const quint32 own = context_.ownUserId();
  context_.screenShare().stopScreenShare();
  if (stopRight && context_.session().room().screenSharerId == qint64(own))
    context_.shareRight().stopShare(own);
  AppWindowHost* host = host_;
  host_ = nullptr;
  if (auto* view = context_.find<AppShareView>())
    view->setEmbedded(nullptr);
  if (host) {
    host->release(platform::windowState(window_.handle) != platform::WindowState::Gone);
    host->deleteLater();
  }
  window_ = platform::DesktopWindow();
  still_ = false;
  context_.session().setShareType(0, 0);
  if (BoardCanvas* board = context_.find<BoardCanvas>())
    board->placeCanvas();
}

void AppShare::ownToolEnded() {
  if (dialog_)
    dialog_->reject();
  endShare();
}

void AppShare::classStopping() {
  ownToolEnded();
}

void AppShare::leaving() {
  ownToolEnded();
}
