#include "WelcomeDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "WndDragFilter.h"

WelcomeDlg::WelcomeDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      pages_(new QStackedWidget(this)),
      previous_(new QPushButton(this)),
      next_(new QPushButton(this)),
      close_(new QPushButton(this)),
      timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("WelcomeDlg"));
  setAttribute(Qt::WA_StyledBackground);
  setModal(true);
  installEventFilter(new WndDragFilter(this));

  for (int i = 1; i <= kPageCount; ++i) {
    auto* banner = new QLabel(pages_);
    banner->setPixmap(QPixmap(QStringLiteral(":/res/tav_add/welcome%1.png").arg(i)));
    banner->setAlignment(Qt::AlignCenter);
    pages_->addWidget(banner);
  }
  pages_->setFixedSize(640, 360);

  previous_->setObjectName(QStringLiteral("bannerPrevious"));
  next_->setObjectName(QStringLiteral("bannerNext"));
  close_->setObjectName(QStringLiteral("titleClose"));
  for (QPushButton* b : {previous_, next_, close_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setCursor(Qt::PointingHandCursor);
  }
  previous_->setFixedSize(40, 40);
  next_->setFixedSize(40, 40);
  close_->setFixedSize(28, 28);
  close_->setToolTip(QStringLiteral("关闭"));

  auto* dots = new QHBoxLayout;
  dots->setSpacing(10);
  dots->addStretch();
  for (int i = 0; i < kPageCount; ++i) {
    auto* dot = new QLabel(this);
    dot->setFixedSize(10, 10);
    dot->setObjectName(QStringLiteral("bannerDot"));
    dots_.append(dot);
    dots->addWidget(dot);
  }
  dots->addStretch();

  auto* titleBar = new QHBoxLayout;
  titleBar->addStretch();
  titleBar->addWidget(close_);

  auto* middle = new QHBoxLayout;
  middle->addWidget(previous_);
  middle->addWidget(pages_);
  middle->addWidget(next_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 16);
  layout->addLayout(titleBar);
  layout->addLayout(middle);
  layout->addLayout(dots);

  connect(previous_, &QPushButton::clicked, this, &WelcomeDlg::slot_ButtonPrevious);
  connect(next_, &QPushButton::clicked, this, &WelcomeDlg::slot_ButtonNext);
  connect(close_, &QPushButton::clicked, this, &QDialog::close);
  connect(timer_, &QTimer::timeout, this, &WelcomeDlg::slot_ButtonNext);
  timer_->start(kTurnMs);
  showPage(0);
}

int WelcomeDlg::currentPage() const {
  return pages_->currentIndex();
}

void WelcomeDlg::slot_ButtonPrevious() {
  showPage((currentPage() + kPageCount - 1) % kPageCount);
}

void WelcomeDlg::slot_ButtonNext() {
  showPage((currentPage() + 1) % kPageCount);
}

void WelcomeDlg::showPage(int page) {
  pages_->setCurrentIndex(page);
  for (int i = 0; i < dots_.size(); ++i)
    dots_[i]->setPixmap(QPixmap(i == page ? QStringLiteral(":/res/tav_add/dot_on.png")
                                          : QStringLiteral(":/res/tav_add/dot_off.png")));
  // A page turned by hand stays up for a full period.
  timer_->start(kTurnMs);
}
