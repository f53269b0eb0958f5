// The chat tab: the messages, the input line (40 characters) and the send
// button. An auditor is told that only buyers may chat; a muted member finds
// the input disabled with the reason above it.
#pragma once

#include <QWidget>

class ClassroomContext;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class RoomSession;

class ChatPanel : public QWidget {
  Q_OBJECT

public:
  static constexpr int kMaxInput = 40;

  explicit ChatPanel(ClassroomContext& context, QWidget* parent = nullptr);

private:
  void refreshOwnState();

  RoomSession& session_;
  const quint32 ownUserId_;
  QListWidget* list_;
  QLabel* mutedLabel_;
  QLineEdit* edit_;
  QPushButton* send_;
};
