// Raising hands: the own "举手"/"放手" button (for members without the
// teacher's rights), the room's hand messages, and every member's hand state in
// the session (the member list shows it and counts the raised ones).
#pragma once

#include <QJsonObject>
#include <QObject>

class ClassroomContext;
class QPushButton;
class RoomSession;

class HandControl : public QObject {
  Q_OBJECT

public:
  explicit HandControl(ClassroomContext& context, QObject* parent = nullptr);

  // The own button, for the window to place.
  QPushButton* button() const { return button_; }

signals:
  void signal_hand_up(quint32 userId);
  void signal_hand_down(quint32 userId);

public slots:
  void btnHandUp_clicked();
  void onHandMessage(const QJsonObject& msg);

private:
  bool send(const QString& content);
  void setHand(quint32 userId, bool up);
  void refreshButton();

  ClassroomContext& context_;
  RoomSession& session_;
  QPushButton* button_;
};
