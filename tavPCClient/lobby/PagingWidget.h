// Page selector under a card list: numbered buttons for a window of pages and
// an ellipsis button that moves the window on when there are more pages.
#pragma once

#include <QList>
#include <QWidget>

class QHBoxLayout;
class QPushButton;

class PagingWidget : public QWidget {
  Q_OBJECT

public:
  static constexpr int kVisibleButtons = 5;

  explicit PagingWidget(QWidget* parent = nullptr);

  // Starts over with pages 1..count and page 1 selected (no signal).
  void setPageCount(uint count);
  uint pageCount() const { return count_; }
  uint currentPage() const { return current_; }
  // Page numbers on the buttons now shown, for tests and screen readers.
  QList<uint> shownPages() const;

signals:
  void signal_SendPageMark(uint page);

public slots:
  void slot_SelectPage(uint page);
  void slot_ButtonMore();

private:
  void rebuild();

  QHBoxLayout* layout_;
  QList<QPushButton*> buttons_;
  QPushButton* more_;
  uint count_ = 0;
  uint current_ = 0;
  uint first_ = 1;  // number on the first button
};
