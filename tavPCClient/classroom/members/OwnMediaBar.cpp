#include "OwnMediaBar.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "ClassroomContext.h"
#include "MediaControl.h"
#include "RoomSession.h"

OwnMediaBar::OwnMediaBar(ClassroomContext& context, MediaControl& control, QWidget* parent)
    : QWidget(parent),
      session_(context.session()),
      ownUserId_(context.ownUserId()),
      video_(new QPushButton(QStringLiteral("摄像头"), this)),
      audio_(new QPushButton(QStringLiteral("麦克风"), this)) {
  setObjectName(QStringLiteral("ownControls"));
  video_->setObjectName(QStringLiteral("btnOwnVideo"));
  audio_->setObjectName(QStringLiteral("btnOwnAudio"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(8);
  for (QPushButton* b : {video_, audio_}) {
    b->setCheckable(true);
    b->setCursor(Qt::PointingHandCursor);
    row->addWidget(b);
  }
  row->addStretch(1);
  // A click asks; the button lights when the media library says the media is on.
  connect(video_, &QPushButton::clicked, this, [this, &control] {
    refresh();
    control.btnOprVideo_teacher_Clicked();
  });
  connect(audio_, &QPushButton::clicked, this, [this, &control] {
    refresh();
    control.btnOprAudio_teacher_Clicked();
  });
  connect(&session_, &RoomSession::mediaChanged, this, [this](quint32 userId) {
    if (userId == ownUserId_)
      refresh();
  });
  connect(&session_, &RoomSession::ownDevicesChanged, this, &OwnMediaBar::refresh);
  connect(&session_, &RoomSession::rolesChanged, this, &OwnMediaBar::refresh);
  connect(&session_, &RoomSession::classStateChanged, this, &OwnMediaBar::refresh);
  refresh();
}

void OwnMediaBar::refresh() {
  setVisible(session_.hasTeacherRights());
  video_->setEnabled(session_.ownHasCamera());
  audio_->setEnabled(session_.ownHasMicrophone());
  video_->setChecked(session_.isOn(ownUserId_, RoomSession::kVideo));
  audio_->setChecked(session_.isOn(ownUserId_, RoomSession::kAudio));
}
