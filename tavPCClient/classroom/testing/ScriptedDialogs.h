// The classroom's dialogs answered by the test: every text is kept, questions
// get the answer set here.
#pragma once

#include <QString>
#include <QStringList>

#include "ClassroomDialogs.h"

struct ScriptedDialogs : ClassroomDialogs {
  void inform(const QString& text, QWidget*) override { informed << text; }
  bool confirm(const QString& text, QWidget*, const QString&) override {
    asked << text;
    return answer;
  }
  void notice(const QString& text, QWidget*) override { noticed << text; }
  QStringList informed;
  QStringList noticed;
  QStringList asked;
  bool answer = true;
};
