#include "ChatMember.h"

#include <QVBoxLayout>

#include "RoomChannelClient.h"

ChatMember::ChatMember(const Setup& setup) {
  entry_.roomId = setup.roomId;
  entry_.ownUserId = setup.userId;
  entry_.ownerId = setup.ownerId;
  entry_.ownName = setup.name;
  entry_.fileServer = ServerAddress::parse(setup.fileServer);
  entry_.credential = QString::fromStdString(setup.credential);
  room_.roomId = setup.roomId;
  room_.isOwner = setup.userId == setup.ownerId;
  session_ = std::make_unique<RoomSession>(setup.userId, setup.ownerId, room_);
  session_->setOwnRole(setup.role, false);
  messenger_ = std::make_unique<RoomMessenger>(setup.userId);
  dispatch_ = std::make_unique<RoomDispatch>();
  context_ = std::make_unique<ClassroomContext>(entry_, *session_, *messenger_, *dispatch_);
  context_->setWindow(&window_);
  connect(messenger_.get(), &RoomMessenger::signal_ChatMsgArrived, dispatch_.get(),
          &RoomDispatch::dispatch);

  window_.resize(360, 640);
  panel_ = new ChatPanel(*context_, &window_);
  panel_->setIdentity({setup.name, QString(), setup.ticket, setup.dataFolder});
  auto* layout = new QVBoxLayout(&window_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(panel_);

  channel_ = new RoomChannelClient(setup.userId, setup.roomId, entry_.credential, this);
  connect(channel_, &RoomChannelClient::messageArrived, messenger_.get(),
          qOverload<const QByteArray&>(&RoomMessenger::receiveRoomChannelMessage),
          Qt::QueuedConnection);
  connect(
      channel_, &RoomChannelClient::__connect2msgs_state, this,
      [this](int state) { context_->setRoomChannelUp(state == 1); }, Qt::QueuedConnection);
  connect(
      channel_, &RoomChannelClient::__disconect_from_msg, this,
      [this] { context_->setRoomChannelUp(false); }, Qt::QueuedConnection);
  channel_->connectTo(setup.msgHost, setup.msgPort);
  messenger_->setRoomChannel(channel_);
}

ChatMember::~ChatMember() {
  delete panel_;
  panel_ = nullptr;
  messenger_->setRoomChannel(nullptr);
  delete channel_;
  channel_ = nullptr;
}

bool ChatMember::connected() const { return channel_ && channel_->hasClient() && context_->roomChannelUp(); }
