// The page shown while paired: the class's picture with its board on top,
// whether the phone may write, a status line, the messages of the link, and
// the chat line and photo button below.
#pragma once

#include <QJsonObject>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class SharedView;

class ClassPage : public QWidget {
  Q_OBJECT
public:
  // Longest chat line, as the classroom's chat takes it.
  static constexpr int kMaxChat = 40;

  explicit ClassPage(QWidget* parent = nullptr);

  SharedView* sharedView() const { return view_; }
  QLineEdit* chatEdit() const { return chatEdit_; }

  // The PC's rights code.
  void showRights(int code);
  // Not linked: no writing, nothing to send.
  void showUnlinked();
  void setLinked(bool linked);
  void setStatus(const QString& text);
  QString status() const;
  QString rightsText() const;
  void addMessage(const QString& text);
  // A share message (72 state, 73 rotation, 74 page turn) or a room message
  // passed on by the PC.
  void applyRoomMessage(const QJsonObject& msg);

signals:
  void chatRequested(const QString& text);
  void photoRequested();
  void leaveRequested();

private:
  SharedView* view_;
  QLabel* rights_;
  QLabel* status_;
  QListWidget* messages_;
  QLineEdit* chatEdit_;
  QPushButton* send_;
  QPushButton* photo_;
};
