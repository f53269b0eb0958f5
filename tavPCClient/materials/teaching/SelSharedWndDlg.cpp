#include "SelSharedWndDlg.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

SelSharedWndDlg::SelSharedWndDlg(const std::vector<platform::DesktopWindow>& windows,
                                 std::function<void(const QString&)> toast, QWidget* parent)
    : QDialog(parent), windows_(windows), toast_(std::move(toast)), list_(new QListWidget(this)) {
  setObjectName(QStringLiteral("selSharedWndDlg"));
  setWindowTitle(QStringLiteral("选择要共享的应用"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  setStyleSheet(QStringLiteral(
      "#selSharedWndDlg { background: #ffffff; }"
      "QListWidget { color: #202124; border: 1px solid #dadce0; border-radius: 4px; font-size: "
      "14px; }"
      "QListWidget::item { padding: 8px 10px; }"
      "QListWidget::item:selected { color: #1a73e8; background: #e8f0fe; }"
      "QPushButton { padding: 6px 18px; border-radius: 4px; border: 1px solid #dadce0; }"
      "QPushButton#btnOk { color: #ffffff; background: #1a73e8; border-color: #1a73e8; }"));
  list_->setObjectName(QStringLiteral("appList"));
  for (const platform::DesktopWindow& w : windows_)
    list_->addItem(QString::fromStdString(w.title));

  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(QStringLiteral("btnOk"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  cancel->setObjectName(QStringLiteral("btnCancel"));
  connect(ok, &QPushButton::clicked, this, &SelSharedWndDlg::slot_btnOk_clicked);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, &SelSharedWndDlg::slot_btnOk_clicked);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 16);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  resize(420, 360);
}

std::vector<platform::DesktopWindow> SelSharedWndDlg::shareable(
    const std::vector<platform::DesktopWindow>& windows, long ownPid) {
  std::vector<platform::DesktopWindow> out;
  for (const platform::DesktopWindow& w : windows) {
    if (w.title.empty() || w.title == "开始" || w.title == "Program Manager" ||
        w.title == "互动教室" || (ownPid != 0 && w.pid == ownPid))
      continue;
    out.push_back(w);
  }
  return out;
}

void SelSharedWndDlg::slot_btnOk_clicked() {
  const int row = list_->currentRow();
  if (row < 0 || row >= int(windows_.size()) || !list_->currentItem()->isSelected()) {
    if (toast_)
      toast_(QStringLiteral("请选择一个应用！"));
    return;
  }
  chosen_ = windows_[size_t(row)];
  accept();
}
