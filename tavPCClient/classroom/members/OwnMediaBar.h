// The teacher's own camera and microphone buttons under the stage. They show
// what is on as the media library announced it (not what was clicked), and
// are disabled when the device is missing.
#pragma once

#include <QWidget>

class ClassroomContext;
class MediaControl;
class QPushButton;
class RoomSession;

class OwnMediaBar : public QWidget {
  Q_OBJECT

public:
  OwnMediaBar(ClassroomContext& context, MediaControl& control, QWidget* parent = nullptr);

private:
  void refresh();

  RoomSession& session_;
  const quint32 ownUserId_;
  QPushButton* video_;
  QPushButton* audio_;
};
