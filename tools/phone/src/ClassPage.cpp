#include "ClassPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "PhoneCanvasLink.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "SharedView.h"

namespace {

// An angle written as a number or as decimal text; -1 when it is neither.
int angleOf(const QJsonValue& v) {
  if (v.isDouble())
    return int(v.toDouble());
  bool ok = false;
  const int angle = v.toString().toInt(&ok);
  return ok ? angle : -1;
}

// The style sheet colours the rights label by its "writes" property.
void markWrites(QLabel* label, bool writes) {
  label->setProperty("writes", writes);
  label->style()->unpolish(label);
  label->style()->polish(label);
}

}  // namespace

ClassPage::ClassPage(QWidget* parent)
    : QWidget(parent),
      view_(new SharedView(this)),
      rights_(new QLabel(this)),
      status_(new QLabel(this)),
      messages_(new QListWidget(this)),
      chatEdit_(new QLineEdit(this)),
      send_(new QPushButton(QStringLiteral("发送"), this)),
      photo_(new QPushButton(QStringLiteral("发送照片"), this)) {
  setObjectName(QStringLiteral("classPage"));
  rights_->setObjectName(QStringLiteral("rightsLabel"));
  status_->setObjectName(QStringLiteral("statusLabel"));
  status_->setWordWrap(true);
  messages_->setObjectName(QStringLiteral("messageList"));
  messages_->setFocusPolicy(Qt::NoFocus);
  messages_->setWordWrap(true);
  // A few recent lines are enough; the picture gets the rest of the height.
  messages_->setMinimumHeight(72);
  messages_->setMaximumHeight(150);
  chatEdit_->setMaxLength(kMaxChat);
  chatEdit_->setPlaceholderText(QStringLiteral("说点什么…"));
  send_->setObjectName(QStringLiteral("sendButton"));
  photo_->setObjectName(QStringLiteral("photoButton"));
  auto* leave = new QPushButton(QStringLiteral("断开"), this);
  leave->setObjectName(QStringLiteral("leaveButton"));

  auto* top = new QHBoxLayout;
  top->addWidget(rights_, 1);
  top->addWidget(leave);
  auto* chat = new QHBoxLayout;
  chat->addWidget(chatEdit_, 1);
  chat->addWidget(send_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 12);
  layout->setSpacing(10);
  layout->addWidget(view_, 1);
  auto* below = new QVBoxLayout;
  below->setContentsMargins(14, 0, 14, 0);
  below->setSpacing(10);
  below->addLayout(top);
  below->addWidget(status_);
  below->addWidget(messages_);
  below->addLayout(chat);
  below->addWidget(photo_);
  layout->addLayout(below);

  connect(send_, &QPushButton::clicked, this, [this] { emit chatRequested(chatEdit_->text()); });
  connect(chatEdit_, &QLineEdit::returnPressed, send_, &QPushButton::click);
  connect(photo_, &QPushButton::clicked, this, &ClassPage::photoRequested);
  connect(leave, &QPushButton::clicked, this, &ClassPage::leaveRequested);
  showUnlinked();
}

void ClassPage::showRights(int code) {
  const bool writes = code == 2 || code == 3;
  view_->canvasLink()->setRights(code);
  rights_->setText(writes ? QStringLiteral("可以在白板上书写") : QStringLiteral("老师未授权板书"));
  markWrites(rights_, writes);
}

void ClassPage::showUnlinked() {
  view_->canvasLink()->setRights(0);
  rights_->setText(QStringLiteral("未连接电脑"));
  markWrites(rights_, false);
  setLinked(false);
}

void ClassPage::setLinked(bool linked) {
  send_->setEnabled(linked);
  photo_->setEnabled(linked);
}

void ClassPage::setStatus(const QString& text) {
  status_->setText(text);
}

QString ClassPage::status() const {
  return status_->text();
}

QString ClassPage::rightsText() const {
  return rights_->text();
}

void ClassPage::addMessage(const QString& text) {
  messages_->addItem(text);
  // A long class would grow the list without end.
  while (messages_->count() > 200)
    delete messages_->takeItem(0);
  messages_->scrollToBottom();
}

void ClassPage::applyRoomMessage(const QJsonObject& msg) {
  switch (roommsg::typeIdOf(msg).value_or(-1)) {
    case MSG_SHARE_STATE: {
      // Templates are never turned; a missing or odd angle means upright.
      const int angle = angleOf(msg.value(QStringLiteral("curRotateAngle")));
      view_->setRotation(angle == 90 || angle == 180 || angle == 270 ? angle : 0);
      return;
    }
    case MSG_PIC_ROTATE:
      view_->setRotation(angleOf(msg.value(QStringLiteral("curRotateAngle"))));
      return;
    case MSG_PAGE_TURN:
      view_->setRotation(0);  // every page starts upright
      return;
    case MSG_CHAT_TEXT: {
      const QString text = msg.value(KEY_CONTENT).toString();
      if (text.isEmpty())
        return;
      const QString name = msg.value(KEY_SEND_USERNAME).toString();
      addMessage(name.isEmpty() ? text : name + QStringLiteral("：") + text);
      return;
    }
    default:
      return;
  }
}
