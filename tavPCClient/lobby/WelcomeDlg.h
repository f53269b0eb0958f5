// Shown once after an update: four banner pages that turn by themselves every
// three seconds or with the previous/next buttons, one dot per page.
#pragma once

#include <QDialog>
#include <QList>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;

class WelcomeDlg : public QDialog {
  Q_OBJECT

public:
  static constexpr int kPageCount = 4;
  static constexpr int kTurnMs = 3000;

  explicit WelcomeDlg(QWidget* parent = nullptr);

  int currentPage() const;

public slots:
  void slot_ButtonPrevious();
  void slot_ButtonNext();

private:
  void showPage(int page);

  QStackedWidget* pages_;
  QList<QLabel*> dots_;
  QPushButton* previous_;
  QPushButton* next_;
  QPushButton* close_;
  QTimer* timer_;
};
