// One live class as seen by one member.
#pragma once

#include <QWidget>

#include "ClassroomEntry.h"

class QLabel;

class Classroom : public QWidget {
  Q_OBJECT

public:
  explicit Classroom(const ClassroomEntry& entry, QWidget* parent = nullptr);

  const ClassroomEntry& entry() const { return entry_; }
  bool isLeaving() const { return leaving_; }
  void setAssistants(const QJsonArray& assistants) { entry_.assistants = assistants; }

signals:
  void signal_exit_classroom();

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  ClassroomEntry entry_;
  bool leaving_ = false;
};
