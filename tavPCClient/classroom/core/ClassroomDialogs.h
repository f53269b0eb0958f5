// The classroom's modal message boxes, asked for in one place: the parts say
// what to tell or ask, and the boxes are shown over the window the member
// looks at. Tests put in their own answers (ScriptedDialogs in testing/).
#pragma once

#include <QString>

class QWidget;

class ClassroomDialogs {
public:
  virtual ~ClassroomDialogs() = default;

  // A box with one button ("确定") over `over` (the classroom window when null);
  // returns when it was closed.
  virtual void inform(const QString& text, QWidget* over = nullptr) = 0;
  // A question with okText and "取消"; true when okText was chosen.
  virtual bool confirm(const QString& text, QWidget* over = nullptr,
                       const QString& okText = QStringLiteral("确定")) = 0;
  // A box with only "取消" that closes itself after 2 s; returns when it was closed.
  virtual void notice(const QString& text, QWidget* over = nullptr) { inform(text, over); }
};
