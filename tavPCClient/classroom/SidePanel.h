// The panel on the right below the videos: a row of tabs (聊天, 成员, 资料,
// ...) over the page of the chosen one. Features add their page as a tab.
#pragma once

#include <QWidget>

class QButtonGroup;
class QHBoxLayout;
class QPushButton;
class QStackedWidget;

class SidePanel : public QWidget {
  Q_OBJECT

public:
  explicit SidePanel(QWidget* parent = nullptr);

  // Adds page under a tab titled title; its index.
  int addTab(const QString& title, QWidget* page, const QString& objectName);
  void setCurrentTab(int index);

private:
  QButtonGroup* group_;
  QHBoxLayout* tabRow_;
  QStackedWidget* pages_;
};
