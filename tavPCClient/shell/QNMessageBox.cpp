#include "QNMessageBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "WndDragFilter.h"

namespace {
QPointer<QNMessageBox>& globalBox() {
  static QPointer<QNMessageBox> box;
  return box;
}
}  // namespace

QNMessageBox* QNMessageBox::global() {
  return globalBox();
}
void QNMessageBox::setGlobal(QNMessageBox* box) {
  globalBox() = box;
}

QNMessageBox::QNMessageBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      titleLabel_(new QLabel(QStringLiteral("提示："), this)),
      messageLabel_(new QLabel(this)),
      okButton_(new QPushButton(QStringLiteral("确定"), this)),
      cancelButton_(new QPushButton(QStringLiteral("取消"), this)),
      closeButton_(new QPushButton(QStringLiteral("×"), this)),
      buttonRow_(new QWidget(this)),
      autoCloseTimer_(new QTimer(this)) {
  setObjectName(QStringLiteral("QNMessageBox"));
  setAttribute(Qt::WA_StyledBackground);
  setModal(true);
  setMinimumSize(360, 190);
  installEventFilter(new WndDragFilter(this));

  titleLabel_->setObjectName(QStringLiteral("msgTitle"));
  closeButton_->setObjectName(QStringLiteral("titleClose"));
  closeButton_->setFocusPolicy(Qt::NoFocus);
  closeButton_->setCursor(Qt::PointingHandCursor);
  messageLabel_->setObjectName(QStringLiteral("msgText"));
  messageLabel_->setWordWrap(true);
  messageLabel_->setAlignment(Qt::AlignCenter);
  messageLabel_->setMinimumWidth(300);
  messageLabel_->setContentsMargins(24, 8, 24, 8);
  okButton_->setObjectName(QStringLiteral("primaryButton"));
  cancelButton_->setObjectName(QStringLiteral("secondaryButton"));
  okButton_->setDefault(true);

  auto* titleBar = new QWidget(this);
  titleBar->setObjectName(QStringLiteral("titleBar"));
  auto* titleLayout = new QHBoxLayout(titleBar);
  titleLayout->setContentsMargins(16, 6, 6, 6);
  titleLayout->addWidget(titleLabel_);
  titleLayout->addStretch();
  titleLayout->addWidget(closeButton_);

  auto* buttons = new QHBoxLayout(buttonRow_);
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->setSpacing(16);
  buttons->addStretch();
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 18);
  layout->setSpacing(12);
  layout->addWidget(titleBar);
  layout->addWidget(messageLabel_, 1);
  layout->addWidget(buttonRow_);

  autoCloseTimer_->setSingleShot(true);
  connect(autoCloseTimer_, &QTimer::timeout, this, &QDialog::close);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
}

void QNMessageBox::setMessage(const QString& text, const QString& okText, const QString& cancelText,
                              int autoCloseMs) {
  messageLabel_->setText(text);
  messageLabel_->setToolTip(text);
  okButton_->setText(okText);
  cancelButton_->setText(cancelText);
  // A time-out left over from an earlier message must not close this one.
  autoCloseTimer_->stop();
  if (okText.isEmpty()) {
    buttonRow_->hide();
    if (autoCloseMs >= 0)
      autoCloseTimer_->start(autoCloseMs);
  } else {
    buttonRow_->show();
    cancelButton_->setVisible(!cancelText.isEmpty());
  }
  adjustSize();
}

QString QNMessageBox::message() const {
  return messageLabel_->text();
}

void QNMessageBox::setHeading(const QString& text) {
  titleLabel_->setText(text);
}

bool QNMessageBox::buttonsVisible() const {
  return !buttonRow_->isHidden();
}

void QNMessageBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The shared box is shown again and again; a window shown again keeps its
  // old place in the stacking order (without a window manager nothing lifts
  // it), under every window made since, where nobody sees it while it blocks
  // them all. It comes to the top, with the focus, every time.
  raise();
  activateWindow();
}
