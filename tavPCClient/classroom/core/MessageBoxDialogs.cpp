#include "MessageBoxDialogs.h"

#include "QNMessageBox.h"

QWidget* MessageBoxDialogs::parentFor(QWidget* over) const {
  return over ? over : (window_ ? window_() : nullptr);
}

void MessageBoxDialogs::inform(const QString& text, QWidget* over) {
  QNMessageBox box(parentFor(over));
  box.setMessage(text, QStringLiteral("确定"), QString());
  box.exec();
}

void MessageBoxDialogs::notice(const QString& text, QWidget* over) {
  QNMessageBox box(parentFor(over));
  box.setMessage(text, QString(), QStringLiteral("取消"), 2000);
  box.exec();
}

bool MessageBoxDialogs::confirm(const QString& text, QWidget* over, const QString& okText) {
  QNMessageBox box(parentFor(over));
  box.setMessage(text, okText, QStringLiteral("取消"));
  return box.exec() == QDialog::Accepted;
}
