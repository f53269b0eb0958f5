#include "ShareControlBar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include "ShareRules.h"

namespace {

QPushButton* barButton(const char* name, const QString& text, const QString& tip, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setToolTip(tip);
  b->setCursor(Qt::PointingHandCursor);
  b->setFocusPolicy(Qt::NoFocus);
  return b;
}

}  // namespace

ShareControlBar::ShareControlBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("shareControls"));
  previous_ = barButton("btnPreviousPic", QStringLiteral("上一页"), QStringLiteral("上一页"), this);
  goTo_ = new QComboBox(this);
  goTo_->setObjectName(QStringLiteral("cmbGoToPic"));
  goTo_->setToolTip(QStringLiteral("跳转到页"));
  next_ = barButton("btnNextPic", QStringLiteral("下一页"), QStringLiteral("下一页"), this);
  pageLabel_ = new QLabel(this);
  pageLabel_->setObjectName(QStringLiteral("pageLabel"));
  reverse_ =
      barButton("btnReverseRotate", QStringLiteral("左转"), QStringLiteral("逆时针旋转"), this);
  forward_ =
      barButton("btnForwardRotate", QStringLiteral("右转"), QStringLiteral("顺时针旋转"), this);
  adapt_ =
      barButton("btnPicAdaptWnd", QStringLiteral("实际大小"), QStringLiteral("实际大小显示"), this);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(6);
  for (QWidget* w : std::initializer_list<QWidget*>{previous_, goTo_, next_, pageLabel_, reverse_,
                                                    forward_, adapt_})
    row->addWidget(w);
  hide();

  connect(previous_, &QPushButton::clicked, this, &ShareControlBar::previousClicked);
  connect(next_, &QPushButton::clicked, this, &ShareControlBar::nextClicked);
  connect(goTo_, qOverload<int>(&QComboBox::activated), this, &ShareControlBar::pageChosen);
  connect(forward_, &QPushButton::clicked, this, &ShareControlBar::forwardClicked);
  connect(reverse_, &QPushButton::clicked, this, &ShareControlBar::reverseClicked);
  connect(adapt_, &QPushButton::clicked, this, &ShareControlBar::adaptClicked);
}

void ShareControlBar::showFor(const ShareState::State& state, bool larger) {
  const bool document = state.mode == share::kDocument;
  previous_->setVisible(document);
  next_->setVisible(document);
  goTo_->setVisible(document);
  pageLabel_->setVisible(document);
  if (document) {
    const QSignalBlocker quiet(goTo_);
    if (goTo_->count() != state.pages) {
      goTo_->clear();
      for (int i = 1; i <= state.pages; ++i)
        goTo_->addItem(QStringLiteral("第%1页").arg(i));
    }
    goTo_->setCurrentIndex(state.page - 1);
    pageLabel_->setText(QStringLiteral("第%1页 / 共%2页").arg(state.page).arg(state.pages));
  }
  // Fit or actual size only matters for a picture larger than the area.
  adapt_->setVisible(larger);
  const bool actual = state.displayMode == share::kActual;
  adapt_->setText(actual ? QStringLiteral("适应窗口") : QStringLiteral("实际大小"));
  adapt_->setToolTip(actual ? QStringLiteral("适应窗口显示") : QStringLiteral("实际大小显示"));
}
