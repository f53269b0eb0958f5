#include "PhoneWindow.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLineEdit>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "ClassPage.h"
#include "PairingPage.h"
#include "PhoneCanvasLink.h"
#include "PhoneLinkClient.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "SharedView.h"

namespace {

// A photo larger than this on its longer side is made smaller before it
// leaves: the class shows it on one screen.
constexpr int kPhotoSide = 2560;
constexpr qint64 kPhotoBytes = 8 * 1024 * 1024;

// A phone's look: large type, large targets, calm colours.
const char kStyle[] = R"(
QWidget { font-size: 16px; color: #1f2329; }
PhoneWindow, #pairingPage, #classPage { background: #f5f6f8; }
QLabel#title { font-size: 28px; font-weight: bold; color: #1a73e8; }
QLabel#hint { color: #646a73; }
QLabel#pairingStatus { color: #1a73e8; }
QLabel#pairingStatus[error="true"] { color: #d93026; }
QLabel#statusLabel { color: #646a73; font-size: 14px; }
QLabel#rightsLabel { padding: 6px 12px; border-radius: 14px; background: #e8eaed; color: #646a73; }
QLabel#rightsLabel[writes="true"] { background: #e6f4ea; color: #188038; }
QLineEdit { min-height: 44px; padding: 0 12px; border: 1px solid #d0d3d9; border-radius: 8px;
            background: white; }
QPushButton { min-height: 48px; padding: 0 18px; border: none; border-radius: 8px;
              background: #1a73e8; color: white; font-weight: bold; }
QPushButton:pressed { background: #1558b0; }
QPushButton:disabled { background: #c4c8ce; }
QPushButton#leaveButton { min-height: 32px; background: transparent; color: #d93026;
                          border: 1px solid #d93026; }
QPushButton#connectButton { background: white; color: #1a73e8; border: 1px solid #1a73e8; }
QListWidget { border: 1px solid #e1e4e8; border-radius: 8px; background: white; font-size: 14px; }
)";

bool isShareMessage(const QJsonObject& msg) {
  const int type = roommsg::typeIdOf(msg).value_or(-1);
  return type == MSG_SHARE_STATE || type == MSG_PIC_ROTATE || type == MSG_PAGE_TURN;
}

}  // namespace

PhoneWindow::PhoneWindow(QWidget* parent)
    : QWidget(parent),
      link_(new PhoneLinkClient(this)),
      stack_(new QStackedWidget(this)),
      pairing_(new PairingPage(stack_)),
      class_(new ClassPage(stack_)) {
  setWindowTitle(QStringLiteral("塔维手机助手"));
  setStyleSheet(QString::fromUtf8(kStyle));
  stack_->addWidget(pairing_);
  stack_->addWidget(class_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);

  connect(pairing_, &PairingPage::pairRequested, this, &PhoneWindow::pair);
  connect(class_, &ClassPage::chatRequested, this, [this](const QString& text) {
    if (sendChat(text))
      class_->chatEdit()->clear();
  });
  connect(class_, &ClassPage::photoRequested, this, [this] {
    const QString path = takePhoto();
    if (!path.isEmpty())
      sendPhotoFile(path);
  });
  connect(class_, &ClassPage::leaveRequested, this, [this] {
    link_->leave();
    backToPairing(QString());
  });

  // The canvas's strokes leave from its send thread; the queue keeps their order.
  connect(sharedView()->canvasLink(), &PhoneCanvasLink::boardMessage, link_,
          &PhoneLinkClient::sendBoardJson, Qt::QueuedConnection);

  connect(link_, &PhoneLinkClient::connecting, this, [this](const QString& host, quint16 port) {
    if (reconnecting_)
      class_->setStatus(QStringLiteral("与电脑的连接已断开，正在重新连接…"));
    else
      pairing_->setStatus(QStringLiteral("正在连接 %1:%2 …").arg(host).arg(port));
  });
  connect(link_, &PhoneLinkClient::connected, this, [this](const QString& host) {
    if (reconnecting_) {
      // The PC answers the board request afresh.
      sharedView()->clearBoard();
      class_->addMessage(QStringLiteral("已重新连接电脑"));
    }
    reconnecting_ = false;
    pairing_->setBusy(false);
    pairing_->setStatus(QString());
    class_->setStatus(QStringLiteral("已连接电脑 %1").arg(host));
    class_->setLinked(true);
    stack_->setCurrentWidget(class_);
  });
  connect(link_, &PhoneLinkClient::refused, this,
          [this] { backToPairing(QStringLiteral("配对码无效或已过期，请重新扫码")); });
  connect(link_, &PhoneLinkClient::unreachable, this,
          [this] { backToPairing(QStringLiteral("无法连接电脑，请确认手机与电脑在同一网络")); });
  connect(link_, &PhoneLinkClient::lost, this, [this] {
    reconnecting_ = true;
    class_->showUnlinked();
    class_->setStatus(QStringLiteral("与电脑的连接已断开"));
    class_->addMessage(QStringLiteral("与电脑的连接已断开"));
  });
  connect(link_, &PhoneLinkClient::gaveUp, this,
          [this] { backToPairing(QStringLiteral("连接已断开，请重新扫码配对")); });
  connect(link_, &PhoneLinkClient::rightsReceived, class_, &ClassPage::showRights);
  connect(link_, &PhoneLinkClient::boardJsonReceived, sharedView(), &SharedView::applyBoardMessage);
  connect(link_, &PhoneLinkClient::roomJsonReceived, this, &PhoneWindow::onRoomJson);
  connect(link_, &PhoneLinkClient::fileReceived, this,
          [this](const QByteArray& bytes) { sharedView()->showFile(bytes); });
}

PhoneWindow::~PhoneWindow() {
  // The canvas's send thread reaches the link through its queue: it stops first.
  delete stack_;
}

SharedView* PhoneWindow::sharedView() const {
  return class_->sharedView();
}

bool PhoneWindow::showsClass() const {
  return stack_->currentWidget() == class_;
}

bool PhoneWindow::pair(const QString& text) {
  reconnecting_ = false;
  pairing_->textEdit()->setText(text.trimmed());
  pairing_->textEdit()->setCursorPosition(0);  // the address is what a user checks
  sharedView()->reset();
  class_->showUnlinked();
  if (!link_->pair(text)) {
    pairing_->setStatus(QStringLiteral("二维码内容无效，请扫描电脑上显示的二维码"), true);
    return false;
  }
  pairing_->setBusy(true);
  return true;
}

void PhoneWindow::backToPairing(const QString& why) {
  reconnecting_ = false;
  class_->showUnlinked();
  pairing_->setBusy(false);
  pairing_->setStatus(why, true);
  stack_->setCurrentWidget(pairing_);
}

void PhoneWindow::onRoomJson(const QJsonObject& msg) {
  if (isShareMessage(msg))
    emit shareMessageReceived(msg);
  class_->applyRoomMessage(msg);
}

bool PhoneWindow::sendChat(const QString& text) {
  const QString line = text.trimmed();
  if (line.isEmpty()) {
    class_->setStatus(QStringLiteral("不能发送空消息"));
    return false;
  }
  if (line.size() > ClassPage::kMaxChat) {
    class_->setStatus(QStringLiteral("消息不能超过%1个字").arg(ClassPage::kMaxChat));
    return false;
  }
  if (!link_->sendChat(line)) {
    class_->setStatus(QStringLiteral("未连接电脑，消息没有发出"));
    return false;
  }
  class_->addMessage(QStringLiteral("我：") + line);
  return true;
}

QString PhoneWindow::takePhoto() {
  return QFileDialog::getOpenFileName(
      this, QStringLiteral("选择照片"),
      QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
      QStringLiteral("图片 (*.jpg *.jpeg *.png)"));
}

bool PhoneWindow::sendPhotoFile(const QString& path) {
  QImageReader reader(path);
  const QByteArray format = reader.format();
  const QSize size = reader.size();
  QFile file(path);
  // A small JPEG or PNG goes as it is; anything else is made a JPEG of a
  // size the class can show (upright, as the camera meant it).
  const bool asItIs = (format == "jpeg" || format == "png") && size.isValid() &&
                      qMax(size.width(), size.height()) <= kPhotoSide && file.size() <= kPhotoBytes;
  QByteArray bytes;
  QString extension = format == "png" ? QStringLiteral(".png") : QStringLiteral(".jpg");
  if (asItIs && file.open(QIODevice::ReadOnly)) {
    bytes = file.readAll();
  } else {
    reader.setAutoTransform(true);
    QImage picture = reader.read();
    if (!picture.isNull()) {
      if (qMax(picture.width(), picture.height()) > kPhotoSide)
        picture =
            picture.scaled(kPhotoSide, kPhotoSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
      QBuffer buffer(&bytes);
      buffer.open(QIODevice::WriteOnly);
      picture.save(&buffer, "JPEG", 85);
      extension = QStringLiteral(".jpg");
    }
  }
  if (bytes.isEmpty()) {
    qWarning() << "photo" << path << "not read:" << reader.errorString() << file.errorString();
    class_->setStatus(QStringLiteral("无法读取这张照片"));
    return false;
  }
  if (!link_->sendPhoto(bytes, extension)) {
    class_->setStatus(QStringLiteral("未连接电脑，照片没有发出"));
    return false;
  }
  class_->addMessage(QStringLiteral("已发送照片 %1").arg(QFileInfo(path).fileName()));
  return true;
}
