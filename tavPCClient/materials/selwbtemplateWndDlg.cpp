#include "selwbtemplateWndDlg.h"

#include <QGridLayout>
#include <QIcon>
#include <QPixmap>
#include <QPushButton>

#include "ShareRules.h"

selwbtemplateWndDlg::selwbtemplateWndDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("selwbtemplateWndDlg"));
  setWindowTitle(QStringLiteral("选择白板背景"));
  auto* grid = new QGridLayout(this);
  grid->setSpacing(12);
  grid->setContentsMargins(16, 16, 16, 16);
  using Slot = void (selwbtemplateWndDlg::*)();
  const Slot handlers[] = {&selwbtemplateWndDlg::pushButton_1_clicked,
                        &selwbtemplateWndDlg::pushButton_2_clicked,
                        &selwbtemplateWndDlg::pushButton_3_clicked,
                        &selwbtemplateWndDlg::pushButton_4_clicked,
                        &selwbtemplateWndDlg::pushButton_5_clicked,
                        &selwbtemplateWndDlg::pushButton_6_clicked};
  const QStringList paths = share::templatePaths();
  for (int i = 0; i < paths.size(); ++i) {
    auto* button = new QPushButton(this);
    button->setObjectName(QStringLiteral("pushButton_%1").arg(i + 1));
    button->setFixedSize(176, 104);
    button->setIconSize(QSize(168, 96));
    button->setCursor(Qt::PointingHandCursor);
    const QPixmap picture(paths[i]);
    if (!picture.isNull())
      button->setIcon(QIcon(picture.scaled(168, 96, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    else
      button->setText(QStringLiteral("背景%1").arg(i + 1));
    connect(button, &QPushButton::clicked, this, handlers[i]);
    grid->addWidget(button, i / 3, i % 3);
  }
}

selwbtemplateWndDlg::~selwbtemplateWndDlg() = default;

void selwbtemplateWndDlg::choose(int index) {
  const QStringList paths = share::templatePaths();
  if (index < 0 || index >= paths.size())
    return;
  chosen_ = paths[index];
  accept();
}

void selwbtemplateWndDlg::done(int result) {
  QDialog::done(result);
  if (!closedSignalled_) {
    closedSignalled_ = true;
    emit signalSelwbtemplateWndDlgClose();
  }
}
