#include "PlayWnd.h"

#include "AudioActivityIndicator.h"
#include "VideoRenderWidget.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace {
const char kAudioOpen[] = ":/res/room/ViewAudioOpen.png";
const char kAudioClose[] = ":/res/room/ViewAudioClose.png";
const char kVideoOpen[] = ":/res/room/ViewVideoOpen.png";
const char kVideoClose[] = ":/res/room/ViewVideoClose.png";
const char kNoVideo[] = ":/res/tav_add/noVideo.png";

const QColor kTeacherBlue(0, 114, 202);
const QColor kParentOrange(255, 102, 0);
const QColor kTitleHover(96, 96, 96, 200);
const QColor kTitleIdle(96, 96, 96, 0);

constexpr int kTitleHeight = 28;
constexpr int kBarSpacing = 12;
constexpr int kBarMargin = 10;

QString rgba(const QColor& c) {
  return QStringLiteral("rgba(%1,%2,%3,%4)")
      .arg(c.red())
      .arg(c.green())
      .arg(c.blue())
      .arg(c.alpha());
}

// No gift picture among the room resources, so the button draws its own.
QIcon giftIcon() {
  QPixmap pix(40, 40);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 102, 0));
  p.drawRoundedRect(QRectF(7, 17, 26, 17), 2, 2);
  p.setBrush(QColor(255, 140, 50));
  p.drawRoundedRect(QRectF(5, 11, 30, 7), 2, 2);
  p.setBrush(QColor(255, 226, 120));
  p.drawRect(QRectF(18, 11, 4, 23));
  QPainterPath bow;
  bow.moveTo(20, 11);
  bow.cubicTo(10, 1, 6, 11, 20, 11);
  bow.moveTo(20, 11);
  bow.cubicTo(30, 1, 34, 11, 20, 11);
  p.setPen(QPen(QColor(255, 226, 120), 2.5));
  p.setBrush(Qt::NoBrush);
  p.drawPath(bow);
  return QIcon(pix);
}
}  // namespace

PlayWnd::PlayWnd(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint),
      m_render(new VideoRenderWidget(this)),
      m_placeholder(new QLabel(this)),
      m_titleBar(new QWidget(this)),
      m_roleBadge(new QLabel(m_titleBar)),
      m_nameLabel(new QLabel(m_titleBar)),
      m_audioIcon(new QLabel(m_titleBar)),
      m_audioActivity(new AudioActivityIndicator(m_titleBar)),
      m_videoIcon(new QLabel(m_titleBar)),
      m_hoverBar(new QWidget(this)) {
  setObjectName(QStringLiteral("PlayWnd"));
  setAttribute(Qt::WA_StyledBackground);
  setAttribute(Qt::WA_Hover);
  setMouseTracking(true);
  setStyleSheet(QStringLiteral(
      "QWidget#PlayWnd { background-color: #1f2229; border: 1px solid #2c313a; }"
      // A backdrop instead of a shadow effect: an effect is re-rendered with every frame.
      "QLabel#playWndName { color: #ffffff; font-size: 12px; background-color: rgba(0,0,0,110);"
      " border-radius: 3px; padding: 0px 4px; }"
      "QWidget#playWndHoverBar QPushButton { background-color: rgba(20,22,28,170);"
      " border: 1px solid rgba(255,255,255,40); border-radius: 18px; }"
      "QWidget#playWndHoverBar QPushButton:hover { background-color: rgba(0,114,202,220); }"
      "QWidget#playWndHoverBar QPushButton:pressed { background-color: rgba(0,90,160,240); }"));

  const QPixmap noVideo(QString::fromLatin1(kNoVideo));
  m_placeholder->setObjectName(QStringLiteral("playWndPlaceholder"));
  m_placeholder->setAlignment(Qt::AlignCenter);
  m_placeholder->setAttribute(Qt::WA_StyledBackground);
  // The placeholder's own backdrop colour, so letterboxing does not show.
  const QColor backdrop =
      noVideo.isNull() ? QColor(58, 62, 72) : noVideo.toImage().pixelColor(2, 2);
  m_placeholder->setStyleSheet(
      QStringLiteral("QLabel#playWndPlaceholder { background-color: %1; }").arg(backdrop.name()));

  m_titleBar->setObjectName(QStringLiteral("playWndTitleBar"));
  m_titleBar->setAttribute(Qt::WA_StyledBackground);
  auto* titleLayout = new QHBoxLayout(m_titleBar);
  titleLayout->setContentsMargins(6, 2, 6, 2);
  titleLayout->setSpacing(4);
  m_roleBadge->setObjectName(QStringLiteral("playWndRoleBadge"));
  m_roleBadge->setAlignment(Qt::AlignCenter);
  m_roleBadge->hide();
  m_nameLabel->setObjectName(QStringLiteral("playWndName"));
  m_nameLabel->setTextFormat(Qt::PlainText);  // names come from other users
  m_audioIcon->setFixedSize(20, 20);
  m_audioIcon->setScaledContents(true);
  m_videoIcon->setFixedSize(20, 20);
  m_videoIcon->setScaledContents(true);
  titleLayout->addWidget(m_roleBadge);
  titleLayout->addWidget(m_nameLabel, 1);
  titleLayout->addWidget(m_audioIcon);
  titleLayout->addWidget(m_audioActivity);
  titleLayout->addWidget(m_videoIcon);

  m_hoverBar->setObjectName(QStringLiteral("playWndHoverBar"));
  auto* barLayout = new QHBoxLayout(m_hoverBar);
  barLayout->setContentsMargins(0, 0, 0, 0);
  barLayout->setSpacing(kBarSpacing);
  m_btnCloseMedia =
      makeButton(QStringLiteral("btnCloseMedia"), QStringLiteral("关闭视频"), OprCloseMedia);
  m_btnCloseMedia->setIcon(QIcon(QString::fromLatin1(kVideoClose)));
  m_btnAudio = makeButton(QStringLiteral("btnAudio"), QString(), OprAudio);
  m_btnGift = makeButton(QStringLiteral("btnGift"), QStringLiteral("送礼物"), OprGift);
  m_btnGift->setIcon(giftIcon());
  barLayout->addWidget(m_btnCloseMedia);
  barLayout->addWidget(m_btnAudio);
  barLayout->addWidget(m_btnGift);
  m_hoverBar->hide();

  setTitleBarColor(kTitleIdle);
  setVideoOn(false);
  setAudioOn(false);
  resize(sizeHint());
  layoutChildren();
}

QPushButton* PlayWnd::makeButton(const QString& name, const QString& tip, int opr) {
  auto* button = new QPushButton(m_hoverBar);
  button->setObjectName(name);
  button->setToolTip(tip);
  button->setFixedSize(kButtonSide, kButtonSide);
  button->setIconSize(QSize(20, 20));
  button->setCursor(Qt::PointingHandCursor);
  button->setFocusPolicy(Qt::NoFocus);
  connect(button, &QPushButton::clicked, this,
          [this, opr] { emit signalPlayWndOpr(m_userId, opr); });
  return button;
}

void PlayWnd::setUser(quint32 id, const QString& name, int roleCode) {
  m_userId = id;
  m_userName = name;
  m_roleCode = roleCode;
  m_nameLabel->setText(name);
  m_nameLabel->setToolTip(QStringLiteral("<qt>%1</qt>").arg(name.toHtmlEscaped()));
  QString badge;
  if (roleCode == 1) {
    badge = QStringLiteral("老师");
    m_badgeColor = kTeacherBlue;
  } else if (roleCode == 3) {
    badge = QStringLiteral("家长");
    m_badgeColor = kParentOrange;
  } else {
    m_badgeColor = QColor();
  }
  m_roleBadge->setText(badge);
  m_roleBadge->setVisible(!badge.isEmpty());
  if (!badge.isEmpty()) {
    m_roleBadge->setStyleSheet(
        QStringLiteral("QLabel#playWndRoleBadge { background-color: rgb(%1,%2,%3); color: #ffffff;"
                       " border-radius: 3px; padding: 0px 4px; font-size: 11px; }")
            .arg(m_badgeColor.red())
            .arg(m_badgeColor.green())
            .arg(m_badgeColor.blue()));
  }
}

void PlayWnd::setVideoOn(bool on) {
  m_videoOn = on;
  m_videoIcon->setPixmap(QPixmap(videoIconPath()));
  if (!on)
    m_render->clear();
  updatePlaceholder();
}

void PlayWnd::setAudioOn(bool on) {
  m_audioOn = on;
  m_audioIcon->setPixmap(QPixmap(audioIconPath()));
  m_audioActivity->setActive(on);
  // The button offers the opposite of the current state.
  m_btnAudio->setIcon(QIcon(QString::fromLatin1(on ? kAudioClose : kAudioOpen)));
  m_btnAudio->setToolTip(on ? QStringLiteral("关闭声音") : QStringLiteral("打开声音"));
}

void PlayWnd::setHoverAllowed(bool allowed) {
  m_hoverAllowed = allowed;
  if (!allowed)
    showHoverBar(false);
  else if (underMouse())
    showHoverBar(true);
}

bool PlayWnd::isHoverBarShown() const {
  return !m_hoverBar->isHidden();
}

bool PlayWnd::isPlaceholderShown() const {
  return !m_placeholder->isHidden();
}

QString PlayWnd::audioIconPath() const {
  return QString::fromLatin1(m_audioOn ? kAudioOpen : kAudioClose);
}

QString PlayWnd::videoIconPath() const {
  return QString::fromLatin1(m_videoOn ? kVideoOpen : kVideoClose);
}

QString PlayWnd::roleBadgeText() const {
  return m_roleBadge->text();
}

void PlayWnd::clear() {
  m_render->clear();
}

void PlayWnd::enterEvent(QEvent* event) {
  QWidget::enterEvent(event);
  if (m_hoverAllowed)
    showHoverBar(true);
}

void PlayWnd::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  showHoverBar(false);
}

void PlayWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutChildren();
}

void PlayWnd::setTitleBarColor(const QColor& color) {
  m_titleColor = color;
  m_titleBar->setStyleSheet(
      QStringLiteral("QWidget#playWndTitleBar { background-color: %1; }").arg(rgba(color)));
}

void PlayWnd::showHoverBar(bool show) {
  m_hoverBar->setVisible(show);
  if (show)
    m_hoverBar->raise();
  setTitleBarColor(show ? kTitleHover : kTitleIdle);
}

void PlayWnd::updatePlaceholder() {
  m_placeholder->setVisible(!m_videoOn);
  if (!m_videoOn)
    layoutChildren();
}

void PlayWnd::layoutChildren() {
  const QRect area = rect();
  m_render->setGeometry(area);
  m_placeholder->setGeometry(area);
  if (!m_placeholder->isHidden()) {
    const QPixmap noVideo(QString::fromLatin1(kNoVideo));
    if (!noVideo.isNull() && area.width() > 0 && area.height() > 0)
      m_placeholder->setPixmap(
          noVideo.scaled(area.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  }
  m_titleBar->setGeometry(0, 0, area.width(), kTitleHeight);
  const int barWidth = 3 * kButtonSide + 2 * kBarSpacing;
  m_hoverBar->setGeometry((area.width() - barWidth) / 2, area.height() - kButtonSide - kBarMargin,
                          barWidth, kButtonSide);
  m_titleBar->raise();
  m_hoverBar->raise();
}
