#include "ChatPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ClassroomContext.h"
#include "RoomSession.h"

ChatPanel::ChatPanel(ClassroomContext& context, QWidget* parent)
    : QWidget(parent),
      session_(context.session()),
      ownUserId_(context.ownUserId()),
      list_(new QListWidget(this)),
      mutedLabel_(new QLabel(this)),
      edit_(new QLineEdit(this)),
      send_(new QPushButton(QStringLiteral("发送"), this)) {
  setObjectName(QStringLiteral("chatPanel"));
  list_->setObjectName(QStringLiteral("chatList"));
  list_->setFrameShape(QFrame::NoFrame);
  mutedLabel_->setObjectName(QStringLiteral("chatMuted"));
  mutedLabel_->hide();
  edit_->setObjectName(QStringLiteral("chatEdit"));
  edit_->setMaxLength(kMaxInput);
  edit_->setPlaceholderText(QStringLiteral("说点什么…"));
  send_->setObjectName(QStringLiteral("btnSendText"));

  auto* input = new QHBoxLayout;
  input->addWidget(edit_, 1);
  input->addWidget(send_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(list_, 1);
  layout->addWidget(mutedLabel_);
  layout->addLayout(input);

  connect(&session_, &RoomSession::rolesChanged, this, &ChatPanel::refreshOwnState);
  connect(&session_, &RoomSession::memberAdded, this, [this](quint32 id) {
    if (id == ownUserId_)
      refreshOwnState();
  });
  connect(&session_, &RoomSession::memberChanged, this, [this](quint32 id) {
    if (id == ownUserId_)
      refreshOwnState();
  });
  refreshOwnState();
}

void ChatPanel::refreshOwnState() {
  edit_->setToolTip(session_.room().ownRole == RoomContext::kAuditor
                        ? QStringLiteral("没购买者不能聊天")
                        : QString());
  const RoomMember* own = session_.member(ownUserId_);
  const bool muted = own && own->muted;
  mutedLabel_->setText(muted ? QStringLiteral("您已被老师禁言") : QString());
  mutedLabel_->setVisible(muted);
  edit_->setEnabled(!muted);
  send_->setEnabled(!muted);
}
