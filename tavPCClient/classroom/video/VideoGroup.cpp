#include "VideoGroup.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "PlayWnd.h"
#include "VideoLineup.h"

namespace {
constexpr int kMargin = 6;
}

VideoGroup::VideoGroup(VideoLineup& lineup, QWidget* parent)
    : QWidget(parent),
      lineup_(lineup),
      tileLayout_(new QHBoxLayout),
      btnPrevious_(new QPushButton(this)),
      btnNext_(new QPushButton(this)) {
  setObjectName(QStringLiteral("VideoGroup"));
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(QStringLiteral(
      "VideoGroup { background-color: #16181d; border-radius: 6px; }"
      "QPushButton#btnVideoPrevious, QPushButton#btnVideoNext { background-color: #2c313a;"
      " border: none; border-radius: 4px; }"
      "QPushButton#btnVideoPrevious:hover, QPushButton#btnVideoNext:hover {"
      " background-color: #0072ca; }"));
  btnPrevious_->setObjectName(QStringLiteral("btnVideoPrevious"));
  btnNext_->setObjectName(QStringLiteral("btnVideoNext"));
  btnPrevious_->setIcon(QIcon(QStringLiteral(":/res/tav_add/arrow_left.png")));
  btnNext_->setIcon(QIcon(QStringLiteral(":/res/tav_add/arrow_right.png")));
  for (QPushButton* button : {btnPrevious_, btnNext_}) {
    button->setFixedWidth(24);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    button->setVisible(lineup_.hasWaiting());
  }
  connect(btnPrevious_, &QPushButton::clicked, &lineup_, &VideoLineup::scrollPrevious);
  connect(btnNext_, &QPushButton::clicked, &lineup_, &VideoLineup::scrollNext);

  tileLayout_->setContentsMargins(0, 0, 0, 0);
  tileLayout_->setSpacing(kMargin);
  tileLayout_->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(kMargin);
  layout->addWidget(btnPrevious_);
  layout->addLayout(tileLayout_, 1);
  layout->addWidget(btnNext_);

  connect(&lineup_, &VideoLineup::shown, this, &VideoGroup::showTile);
  connect(&lineup_, &VideoLineup::hidden, this, &VideoGroup::hideTile);
  connect(&lineup_, &VideoLineup::waitingChanged, this, [this](bool waiting) {
    btnPrevious_->setVisible(waiting);
    btnNext_->setVisible(waiting);
  });
  const QList<quint32> shown = lineup_.displayed();
  for (int i = 0; i < shown.size(); ++i)
    showTile(shown.at(i), i);
}

VideoGroup::~VideoGroup() = default;

QList<PlayWnd*> VideoGroup::tiles() const {
  QList<PlayWnd*> list;
  for (quint32 id : lineup_.displayed())
    if (PlayWnd* t = tiles_.value(id))
      list.append(t);
  return list;
}

bool VideoGroup::scrollButtonsShown() const {
  return !btnNext_->isHidden();
}

QSize VideoGroup::tileSize() const {
  const int h = qMax(1, height() - 2 * kMargin);
  return QSize(qRound(h * kTileAspect), h);
}

void VideoGroup::setHoverAllowed(bool allowed) {
  hoverAllowed_ = allowed;
  for (PlayWnd* t : qAsConst(tiles_))
    t->setHoverAllowed(allowed);
}

void VideoGroup::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int width = tileSize().width();
  for (PlayWnd* t : qAsConst(tiles_))
    t->setFixedWidth(width);
}

void VideoGroup::showTile(quint32 id, int position) {
  hideTile(id);
  auto* wnd = new PlayWnd(this);
  wnd->setUser(id, QString(), 0);
  wnd->setVideoOn(true);
  wnd->setHoverAllowed(hoverAllowed_);
  // As high as the strip (the layout gives that) and as wide as a 4:3 picture of
  // that height; the tile never makes the strip taller.
  wnd->setMinimumHeight(1);
  wnd->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  wnd->setFixedWidth(tileSize().width());
  connect(wnd, &PlayWnd::signalPlayWndOpr, this, &VideoGroup::signalPlayWndOpr);
  tiles_.insert(id, wnd);
  tileLayout_->insertWidget(position, wnd);
  wnd->show();
  emit tileShown(wnd);
}

void VideoGroup::hideTile(quint32 id) {
  PlayWnd* wnd = tiles_.take(id);
  if (!wnd)
    return;
  tileLayout_->removeWidget(wnd);
  // Later: the request to drop the tile may come from one of its own buttons.
  wnd->hide();
  wnd->deleteLater();
}
