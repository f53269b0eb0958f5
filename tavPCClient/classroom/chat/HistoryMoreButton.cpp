#include "HistoryMoreButton.h"

HistoryMoreButton::HistoryMoreButton(const QString& objectName, QWidget* parent)
    : QPushButton(parent) {
  setObjectName(objectName);
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
  showMore();
}

void HistoryMoreButton::showMore() {
  setText(QStringLiteral("查看更多消息"));
  setEnabled(true);
}

void HistoryMoreButton::showLoading() {
  setText(QStringLiteral("正在加载……"));
  setEnabled(false);
}

void HistoryMoreButton::showNoMore() {
  setText(QStringLiteral("无更多历史消息了"));
  setEnabled(false);
}
