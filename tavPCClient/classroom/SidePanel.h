// The panel on the right below the videos: a row of tabs (聊天, 成员, 资料,
// ...) over the page of the chosen one. Features add their page as a tab.
#pragma once

#include <QWidget>

class QButtonGroup;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QStackedWidget;

class SidePanel : public QWidget {
  Q_OBJECT

public:
  explicit SidePanel(QWidget* parent = nullptr);

  // Adds page under a tab titled title; its index.
  int addTab(const QString& title, QWidget* page, const QString& objectName);
  void setCurrentTab(int index);
  int currentTab() const;
  // A new message arrived on the page of that tab while another one is shown:
  // the tab button carries the new-message mark and a notice shows above the
  // pages until the tab is opened.
  void markNewMessage(int index);
  bool hasNewMessageMark(int index) const;

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  QButtonGroup* group_;
  QHBoxLayout* tabRow_;
  QStackedWidget* pages_;
  QLabel* notice_;
  QLabel* dot_;
  int marked_ = -1;

  void placeDot();
};
