// The classroom's dialogs as the shared modal message box shows them.
#pragma once

#include <functional>

#include "ClassroomDialogs.h"

class MessageBoxDialogs : public ClassroomDialogs {
public:
  // window: where the boxes go when no other window is named (asked each time).
  explicit MessageBoxDialogs(std::function<QWidget*()> window) : window_(std::move(window)) {}

  void inform(const QString& text, QWidget* over = nullptr) override;
  bool confirm(const QString& text, QWidget* over = nullptr,
               const QString& okText = QStringLiteral("确定")) override;
  void notice(const QString& text, QWidget* over = nullptr) override;

private:
  QWidget* parentFor(QWidget* over) const;

  std::function<QWidget*()> window_;
};
