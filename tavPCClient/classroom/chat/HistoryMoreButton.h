// The button at the top of a history list that pages in older messages, in
// its three states: more to ask for, loading, and nothing older.
#pragma once

#include <QPushButton>

class HistoryMoreButton : public QPushButton {
  Q_OBJECT

public:
  explicit HistoryMoreButton(const QString& objectName, QWidget* parent = nullptr);

  // "查看更多消息", enabled.
  void showMore();
  // "正在加载……", disabled.
  void showLoading();
  // "无更多历史消息了", disabled.
  void showNoMore();
};
