#include "ClassStage.h"

#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "RoomSession.h"
#include "VideoRenderWidget.h"

ClassStage::ClassStage(RoomSession& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      pages_(new QStackedWidget(this)),
      sharedArea_(new QLabel(pages_)),
      toolView_(new VideoRenderWidget(pages_)) {
  setObjectName(QStringLiteral("classStage"));
  sharedArea_->setObjectName(QStringLiteral("sharedArea"));
  sharedArea_->setAlignment(Qt::AlignCenter);
  sharedArea_->setMinimumSize(480, 300);
  toolView_->setObjectName(QStringLiteral("toolView"));
  pages_->addWidget(sharedArea_);
  pages_->addWidget(toolView_);
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

QWidget* ClassStage::sharedArea() const {
  return sharedArea_;
}

QRect ClassStage::pictureRect() const {
  return sharedArea_->rect();
}

QPixmap ClassStage::shownPixmap() const {
  const QPixmap* shown = sharedArea_->pixmap();
  return shown ? *shown : QPixmap();
}

QString ClassStage::waitingText() const {
  // The teacher starts the class; everybody else waits for it.
  return session_.hasTeacherRights() ? QStringLiteral("点击右上角的“上课”开始上课")
                                     : QStringLiteral("等待老师上课");
}

void ClassStage::showSharer() {
  const qint64 sharer = session_.room().screenSharerId;
  const bool shared = sharer > 0 && session_.isOn(static_cast<quint32>(sharer), RoomSession::kScreen);
  pages_->setCurrentWidget(shared ? static_cast<QWidget*>(toolView_) : sharedArea_);
}

void ClassStage::classStateChanged(bool running) {
  if (running) {
    showBoard();
    return;
  }
  board_ = QPixmap();
  toolView_->clear();
  pages_->setCurrentWidget(sharedArea_);
  sharedArea_->setPixmap(QPixmap());
  sharedArea_->setStyleSheet(QString());
  sharedArea_->setText(waitingText());
}

void ClassStage::showBoard() {
  if (board_.isNull())
    board_ = QPixmap(QString::fromLatin1(kBlankBoard));
  sharedArea_->setText(QString());
  if (board_.isNull()) {
    sharedArea_->setStyleSheet(QStringLiteral("background: white;"));
    return;
  }
  sharedArea_->setPixmap(
      board_.scaled(sharedArea_->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

void ClassStage::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (session_.classInProgress() && !board_.isNull())
    showBoard();
}
