// The client's modal message box: a frameless dialog with a notice title, the
// message, OK and Cancel buttons and a close button.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;
class QWidget;

class QNMessageBox : public QDialog {
  Q_OBJECT

public:
  explicit QNMessageBox(QWidget* parent = nullptr);

  // Sets the message and the button texts. An empty OK text hides the button
  // row; the box then closes by itself after autoCloseMs when that is 0 or more
  // (a negative time keeps it open until something accepts or closes it).
  void setMessage(const QString& text, const QString& okText = QStringLiteral("确定"),
                  const QString& cancelText = QStringLiteral("取消"), int autoCloseMs = -1);

  QString message() const;
  // The heading in the title bar ("提示：" unless set).
  void setHeading(const QString& text);
  bool buttonsVisible() const;

  // The process-wide box (created at start-up, may be null before or after).
  static QNMessageBox* global();
  static void setGlobal(QNMessageBox* box);

protected:
  void showEvent(QShowEvent* event) override;

private:
  QLabel* titleLabel_;
  QLabel* messageLabel_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
  QPushButton* closeButton_;
  QWidget* buttonRow_;
  QTimer* autoCloseTimer_;
};
