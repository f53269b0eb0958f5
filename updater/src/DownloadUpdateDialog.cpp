#include "updater/DownloadUpdateDialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "WndDragFilter.h"

DownloadUpdateDialog::DownloadUpdateDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      label_(new QLabel(QStringLiteral("正在下载升级包"), this)),
      bar_(new QProgressBar(this)) {
  setObjectName(QStringLiteral("DownloadUpdateDialog"));
  setWindowTitle(QStringLiteral("塔维网升级"));
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(
      QStringLiteral("#DownloadUpdateDialog { background: #ffffff; border: 1px solid #2f8cf0; }"
                     "QLabel { color: #333333; font-size: 14px; }"
                     "QProgressBar { border: 1px solid #c8d3df; border-radius: 4px; height: 18px;"
                     " text-align: center; }"
                     "QProgressBar::chunk { background: #2f8cf0; border-radius: 3px; }"));
  installEventFilter(new WndDragFilter(this));

  bar_->setRange(0, 100);
  bar_->setValue(0);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 24, 28, 28);
  layout->setSpacing(14);
  layout->addWidget(label_);
  layout->addWidget(bar_);
  setFixedSize(380, 120);
}

void DownloadUpdateDialog::setProgress(int percent) {
  bar_->setValue(qBound(0, percent, 100));
}

int DownloadUpdateDialog::progress() const {
  return bar_->value();
}
