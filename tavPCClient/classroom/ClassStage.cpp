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
      mainView_(new VideoRenderWidget(pages_)) {
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

QWidget* ClassStage::sharedArea() const {
  return pictureArea_;
}

QRect ClassStage::pictureRect() const {
  return picture_ ? picture_->pictureRect() : pictureArea_->rect();
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
