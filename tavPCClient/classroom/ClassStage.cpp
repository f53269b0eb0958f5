#include "ClassStage.h"

#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "RoomSession.h"
#include "VideoRenderWidget.h"

ClassStage::ClassStage(RoomSession& session, SharedAreaView* picture, QWidget* parent)
    : QWidget(parent),
      session_(session),
      picture_(picture),
      pages_(new QStackedWidget(this)),
      waiting_(new QLabel(pages_)),
      pictureArea_(picture ? picture->sharedArea() : new QWidget(pages_)),
      toolView_(new VideoRenderWidget(pages_)),
      mainView_(new VideoRenderWidget(pages_)),
      appPage_(new QWidget(pages_)) {
  setObjectName(QStringLiteral("classStage"));
  waiting_->setObjectName(QStringLiteral("stageWaiting"));
  waiting_->setAlignment(Qt::AlignCenter);
  waiting_->setMinimumSize(480, 300);
  toolView_->setObjectName(QStringLiteral("toolView"));
  pages_->addWidget(waiting_);
  pages_->addWidget(pictureArea_);
  pages_->addWidget(toolView_);
  mainView_->setObjectName(QStringLiteral("stageMainVideo"));
  pages_->addWidget(mainView_);
  appPage_->setObjectName(QStringLiteral("appShareArea"));
  auto* appLayout = new QVBoxLayout(appPage_);
  appLayout->setContentsMargins(0, 0, 0, 0);
  pages_->addWidget(appPage_);
  connect(mainView_, &VideoRenderWidget::signal_DoubleClick, this, &ClassStage::shrinkRequested);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(pages_);

  connect(&session_, &RoomSession::classStateChanged, this, &ClassStage::classStateChanged);
  connect(&session_, &RoomSession::rolesChanged, this,
          [this] { classStateChanged(session_.classInProgress()); });
  connect(&session_, &RoomSession::mediaChanged, this, [this](quint32, int kind) {
    if (kind == RoomSession::kScreen)
      showSharer();
  });
  // A member entering a running class learns who shares after the share itself.
  connect(&session_, &RoomSession::floorsChanged, this, &ClassStage::showSharer);
  classStateChanged(session_.classInProgress());
}

bool ClassStage::showsToolView() const {
  return pages_->currentWidget() == toolView_;
}

bool ClassStage::showsPicture() const {
  return pages_->currentWidget() == pictureArea_;
}

bool ClassStage::showsEmbedded() const {
  return pages_->currentWidget() == appPage_;
}

QWidget* ClassStage::sharedArea() const {
  return writesOverOwnProgram() ? static_cast<QWidget*>(toolView_) : pictureArea_;
}

QRect ClassStage::pictureRect() const {
  if (writesOverOwnProgram())
    return toolView_->frameRect().isEmpty() ? toolView_->rect() : toolView_->frameRect();
  return picture_ ? picture_->pictureRect() : pictureArea_->rect();
}

void ClassStage::setStill(bool still) {
  still_ = still;
  classStateChanged(session_.classInProgress());
}

QWidget* ClassStage::appHost() const {
  return appPage_;
}

void ClassStage::setEmbedded(QWidget* container) {
  if (embedded_ && embedded_ != container)
    appPage_->layout()->removeWidget(embedded_);
  embedded_ = container;
  if (!container)
    still_ = false;
  if (container) {
    container->setParent(appPage_);
    appPage_->layout()->addWidget(container);
    container->show();
  }
  classStateChanged(session_.classInProgress());
}

QPixmap ClassStage::shownPixmap() const {
  return picture_ ? picture_->shownPixmap() : QPixmap();
}

QString ClassStage::waitingText() const {
  // The teacher starts the class; everybody else waits for it.
  return session_.hasTeacherRights() ? QStringLiteral("点击右上角的“上课”开始上课")
                                     : QStringLiteral("等待老师上课");
}

void ClassStage::setMainVideoEnlarged(bool enlarged) {
  if (enlarged == enlarged_ || (enlarged && !session_.classInProgress()))
    return;
  enlarged_ = enlarged;
  mainView_->clear();
  if (enlarged)
    pages_->setCurrentWidget(mainView_);
  else
    classStateChanged(session_.classInProgress());
}

void ClassStage::showSharer() {
  if (!session_.classInProgress() || enlarged_)
    return;
  const qint64 sharer = session_.room().screenSharerId;
  // The own program: live, or as captured while the board is written over it.
  if (embedded_ && sharer == qint64(session_.ownUserId())) {
    pages_->setCurrentWidget(writesOverOwnProgram() ? static_cast<QWidget*>(toolView_) : appPage_);
    return;
  }
  const bool shared =
      sharer > 0 && session_.isOn(static_cast<quint32>(sharer), RoomSession::kScreen);
  pages_->setCurrentWidget(shared ? static_cast<QWidget*>(toolView_) : pictureArea_);
}

void ClassStage::classStateChanged(bool running) {
  waiting_->setText(waitingText());
  if (!running)
    enlarged_ = false;
  if (running && enlarged_)
    return;
  if (running) {
    showSharer();
    return;
  }
  toolView_->clear();
  pages_->setCurrentWidget(waiting_);
}
