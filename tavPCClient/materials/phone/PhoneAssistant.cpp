#include "PhoneAssistant.h"

#include <QDebug>
#include <QFile>
#include <QRandomGenerator>
#include <QWidget>

#include "BoardCanvas.h"
#include "ClassroomContext.h"
#include "DataFolder.h"
#include "PhoneAddresses.h"
#include "PhoneBoard.h"
#include "QRViewForm.h"
#include "RoomMessage.h"
#include "RoomMessageTypes.h"
#include "SharedContent.h"
#include "SharingCliServer.h"
#include "phonewire/phone_packet.h"
#include "platform/network_adapters.h"

namespace {

constexpr int kPhoneGone = 1000;

// A new secret for every pairing: 128 random bits as 32 hexadecimal digits.
QString newSecret() {
  quint32 words[4];
  QRandomGenerator::system()->fillRange(words);
  QString secret;
  for (quint32 w : words)
    secret += QStringLiteral("%1").arg(w, 8, 16, QLatin1Char('0'));
  return secret;
}

}  // namespace

PhoneAssistant::PhoneAssistant(ClassroomContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      dataFolder_(DataFolder::path()),
      firstPort_(SharingCliServer::kFirstPort) {
  context_.handleRoomMessages({MSG_PHONE_ASSISTANT}, this,
                              [this](const QJsonObject& msg) { onPhoneAssistantMessage(msg); });
  // The phone is told the own rights whenever they may have changed.
  RoomSession& session = context_.session();
  connect(&session, &RoomSession::floorsChanged, this, &PhoneAssistant::sendRights);
  connect(&session, &RoomSession::classStateChanged, this, &PhoneAssistant::sendRights);
  connect(&session, &RoomSession::rolesChanged, this, &PhoneAssistant::sendRights);
}

PhoneAssistant::~PhoneAssistant() {
  closeLink();
  delete form_.data();
  for (const QString& path : received_)
    QFile::remove(path);
}

QRViewForm* PhoneAssistant::form() const {
  return form_;
}

// ---- pairing ----

void PhoneAssistant::pair() {
  if (!context_.session().classInProgress()) {
    context_.toast(QStringLiteral("上课后才可以共享！"));
    return;
  }
  closeLink();
  auto server = std::make_unique<SharingCliServer>(dataFolder_);
  const int generation = ++generation_;
  // Reports of a server replaced meanwhile are dropped.
  connect(server.get(), &SharingCliServer::signal_threadRecvData, this,
          [this, generation](int type, QString content) {
            if (generation == generation_)
              SharingServerInfo(type, content);
          });
  connect(server.get(), &SharingCliServer::signal_ClientConnect, this, [this, generation] {
    if (generation == generation_)
      SharingClientConnect();
  });
  const QStringList addresses = phone::pairingAddresses(platform::networkAdapters());
  const QString secret = newSecret();
  if (server->start(addresses, secret, firstPort_) != 0) {
    qWarning() << "phone assistant: no port to listen on for" << addresses;
    return;
  }
  const quint16 port = server->port();
  server_ = std::move(server);
  context_.provide<PhoneLink>(this);
  if (!form_)
    form_ = new QRViewForm(context_.window());
  const QString joined = addresses.join(QLatin1Char(','));
  form_->setText(QString::fromStdString(
                     phonewire::pairing_text(joined.toStdString(), port, secret.toStdString())),
                 QStringLiteral("%1:%2").arg(joined).arg(port));
  // Over the middle of the classroom, where the teacher looks.
  if (QWidget* window = context_.window()) {
    form_->adjustSize();
    form_->move(window->frameGeometry().center() - form_->rect().center());
  }
  form_->show();
  form_->raise();
  qInfo() << "phone assistant: waiting on" << joined << "port" << port;
}

void PhoneAssistant::closeLink() {
  ++generation_;
  phoneConnected_ = false;
  lastRights_ = -1;
  context_.withdraw<PhoneLink>(this);
  server_.reset();  // stops it
  if (form_)
    form_->hide();
}

void PhoneAssistant::classStopping() {
  closeLink();
}

void PhoneAssistant::leaving() {
  closeLink();
}

// ---- what the phone sends ----

void PhoneAssistant::SharingClientConnect() {
  phoneConnected_ = true;
  if (form_)
    form_->hide();
  context_.toast(QStringLiteral("与手机助手连接成功！"));
  if (context_.session().classInProgress()) {
    if (SharedContent* content = context_.find<SharedContent>()) {
      server_->sendJson6(content->shareStateMessage());
      const QString shown = content->shownFile();
      if (!shown.isEmpty())
        server_->sendFile(shown);
    }
  }
  lastRights_ = -1;
  sendRights();
}

void PhoneAssistant::SharingServerInfo(int type, QString content) {
  if (!server_)
    return;
  switch (type) {
    case SharingCliServer::kFileReceived:
      received_ << content;
      if (SharedContent* shared = context_.find<SharedContent>())
        shared->sharePhonePicture(content);
      return;
    case SharingCliServer::kBoardJson: {
      const auto msg = roommsg::parseObject(content.toUtf8());
      if (!msg) {
        qWarning() << "phone assistant: a board message that is not a JSON object dropped";
        return;
      }
      if (PhoneBoard* board = context_.find<PhoneBoard>())
        board->boardMessageFromPhone(*msg);
      return;
    }
    case SharingCliServer::kRoomJson: {
      const auto msg = roommsg::parseObject(content.toUtf8());
      if (!msg) {
        qWarning() << "phone assistant: a room message that is not a JSON object dropped";
        return;
      }
      if (roommsg::typeIdOf(*msg).value_or(-1) == kPhoneGone) {
        closeLink();
        context_.toast(QStringLiteral("与手机助手断开连接！"));
        return;
      }
      fromPhoneRoom(*msg);
      return;
    }
    case SharingCliServer::kBoardRequest:
      if (PhoneBoard* board = context_.find<PhoneBoard>())
        for (const QJsonObject& msg : board->boardForPhone())
          if (server_)  // the wait for a stroke may have ended the link
            server_->sendJson(msg);
      return;
    default:
      return;
  }
}

void PhoneAssistant::fromPhoneRoom(const QJsonObject& msg) {
  const auto type = roommsg::typeIdOf(msg);
  if (!type || !roommsg::isRoomType(*type) || !roommsg::hasStringTypeId(msg)) {
    qWarning() << "phone assistant: a message of no room type dropped";
    return;
  }
  // Whatever the phone put in, it speaks as the own member.
  QJsonObject own = context_.ownMessage(*type);
  for (auto it = msg.begin(); it != msg.end(); ++it) {
    const QString& key = it.key();
    if (key == QLatin1String(KEY_TYPE_ID) || key == QLatin1String(KEY_SEND_USER_ID) ||
        key == QLatin1String(KEY_SEND_USERNAME) || key == QLatin1String(KEY_SEND_USER_IMG) ||
        key == QLatin1String(KEY_SEND_USER_ROLE) || key == QLatin1String(KEY_ROOM_ID) ||
        key == QLatin1String(KEY_MSG_SEND_TIME))
      continue;
    own.insert(key, it.value());
  }
  context_.dispatchLocally(own);
  // The phone's word to its own PC stays here.
  if (*type != MSG_PHONE_ASSISTANT)
    context_.sendRoomMsg(own, QStringLiteral("*"));
}

void PhoneAssistant::onPhoneAssistantMessage(const QJsonObject& msg) {
  if (roommsg::senderOf(msg).value_or(0) != context_.ownUserId())
    return;
  const QJsonValue content = msg.value(KEY_CONTENT);
  const QString text = content.isString() ? content.toString() : QString();
  if (!text.isEmpty())
    context_.toast(text);
}

// ---- what the phone is told ----

int PhoneAssistant::rightsCode(const RoomContext& room, quint32 ownUserId, bool canvasShown) {
  const qint64 own = qint64(ownUserId);
  const bool sharer = room.screenSharerId == own;
  const int base =
      (room.isOwner && room.classInProgress) || sharer || room.toolHolderId == own ? 1 : 0;
  const int r = room.annotatingId == own ? base + 2 : base;
  if (r == 1 && canvasShown)
    return 5;
  if (r == 1 && !canvasShown && !sharer)
    return 6;
  return r;
}

void PhoneAssistant::sendRights() {
  if (!server_ || !phoneConnected_)
    return;
  const BoardCanvas* canvas = context_.find<BoardCanvas>();
  const int code =
      rightsCode(context_.session().room(), context_.ownUserId(), canvas && canvas->canvasShown());
  if (code == lastRights_)
    return;
  lastRights_ = code;
  server_->sendInt(code);
}

void PhoneAssistant::sendToPhone(const QJsonObject& msg) {
  if (server_)
    server_->sendJson(msg);
}

void PhoneAssistant::sendShareControl(const QJsonObject& msg) {
  if (server_)
    server_->sendJson6(msg);
  // The canvas may have been shown or hidden with the share.
  sendRights();
}

void PhoneAssistant::sendShownFile(const QString& path) {
  if (server_)
    server_->sendFile(path);
}
