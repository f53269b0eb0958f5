// The sharer's buttons under the shared area: previous and next page, a page
// list and the page count for a document, rotation both ways, and fit or
// actual size for a picture larger than the area.
#pragma once

#include <QWidget>

#include "ShareState.h"

class QComboBox;
class QLabel;
class QPushButton;

class ShareControlBar : public QWidget {
  Q_OBJECT

public:
  explicit ShareControlBar(QWidget* parent = nullptr);

  // The buttons that fit what is shown; larger: the picture does not fit the area.
  void showFor(const ShareState::State& state, bool larger);

signals:
  void previousClicked();
  void nextClicked();
  void pageChosen(int index);
  void forwardClicked();
  void reverseClicked();
  void adaptClicked();

private:
  QPushButton* previous_;
  QPushButton* next_;
  QComboBox* goTo_;
  QLabel* pageLabel_;
  QPushButton* forward_;
  QPushButton* reverse_;
  QPushButton* adapt_;
};
