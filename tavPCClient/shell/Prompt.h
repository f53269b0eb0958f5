// A short-lived toast: a label centred over a window that hides itself after
// three seconds.
#pragma once

#include <QLabel>

class QTimer;

class Prompt : public QLabel {
  Q_OBJECT

 public:
  static constexpr int kShowMs = 3000;

  // The process-wide toast, created on first use. If the window it last sat on
  // was destroyed (and took the toast with it), a new one is made.
  static Prompt* instance();

  explicit Prompt(QWidget* parent = nullptr);

  // Moves the toast onto parent, shows text centred there and (re)starts the
  // three-second timer; a toast already showing is replaced.
  void showMessage(QWidget* parent, const QString& text);

 public slots:
  void destroyMessage();

 private:
  QTimer* timer_;
};
