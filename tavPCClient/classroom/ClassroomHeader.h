// The classroom's title bar: room and teacher, whether the class runs, the
// teaching-tool selector for members with the teacher's rights and the
// student holding the teaching tool, the start and stop buttons for the
// teacher's side; the leave button for everybody. The window is
// dragged by this bar.
#pragma once

#include <QList>
#include <QWidget>
#include <functional>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class RoomSession;

class ClassroomHeader : public QWidget {
  Q_OBJECT

public:
  ClassroomHeader(const QString& roomName, const QString& teacherName, RoomSession& session,
                  QWidget* parent = nullptr);

  void setStartEnabled(bool enabled);
  // A part's control in the title bar, left of the teacher's controls.
  void addControl(QWidget* control);
  // An entry of the teaching-tool selector ("教具选择"): chosen, it runs.
  void addToolEntry(const QString& text, std::function<void()> chosen);

signals:
  void startClassClicked();
  void stopClassClicked();
  void leaveClicked();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void refresh();

  RoomSession& session_;
  QLabel* classState_;
  QComboBox* toolSelector_;
  QPushButton* start_;
  QPushButton* stop_;
  QWidget* teacherOnly_;
  QHBoxLayout* row_ = nullptr;
  QList<std::function<void()>> toolEntries_;
};
