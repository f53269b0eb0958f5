#include "UserItem.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>

namespace {
const char kVideoOn[] = ":/res/room/videoOn.png";
const char kVideoOff[] = ":/res/room/videoOff.png";
const char kAudioOn[] = ":/res/room/audioOn.png";
const char kAudioOff[] = ":/res/room/audioOff.png";
const char kNoCamera[] = ":/res/room/无摄像头.png";
const char kNoMicrophone[] = ":/res/room/无麦.png";

QLabel* makeMark(const QString& name, const QString& text, QWidget* parent) {
  auto* mark = new QLabel(text, parent);
  mark->setObjectName(name);
  mark->setFixedHeight(18);
  mark->setAlignment(Qt::AlignCenter);
  mark->hide();
  return mark;
}
}  // namespace

UserItem::UserItem(quint32 userId, const QString& name, int roleCode, QWidget* parent)
    : QWidget(parent),
      m_userId(userId),
      m_roleCode(roleCode),
      m_check(new QCheckBox(this)),
      m_levelLabel(new QLabel(this)),
      m_nameLabel(new QLabel(this)),
      m_assistantMark(makeMark(QStringLiteral("userAssistantMark"), QStringLiteral("助教"), this)),
      m_handMark(makeMark(QStringLiteral("userHandMark"), QStringLiteral("举手"), this)),
      m_mutedMark(makeMark(QStringLiteral("userMutedMark"), QStringLiteral("禁言"), this)),
      m_medalMark(makeMark(QStringLiteral("userMedalMark"), QString(), this)),
      m_btnVideo(new QToolButton(this)),
      m_btnAudio(new QToolButton(this)) {
  setObjectName(QStringLiteral("UserItem"));
  setAttribute(Qt::WA_StyledBackground);
  setFixedHeight(36);
  setStyleSheet(QStringLiteral(
      "QWidget#UserItem { background-color: #ffffff; border-bottom: 1px solid #eef0f3; }"
      "QWidget#UserItem:hover { background-color: #f3f7fc; }"
      "QLabel#userName { color: #2b2f36; font-size: 13px; }"
      "QLabel#userLevel { color: #ffffff; background-color: #f5a623; border-radius: 3px;"
      " padding: 0px 3px; font-size: 10px; }"
      "QLabel#userAssistantMark { color: #ffffff; background-color: #13a89e; border-radius: 3px;"
      " padding: 0px 3px; font-size: 10px; }"
      "QLabel#userHandMark { color: #ffffff; background-color: #ff6600; border-radius: 3px;"
      " padding: 0px 3px; font-size: 10px; }"
      "QLabel#userMedalMark { color: #5c3d00; background-color: #ffd54f; border-radius: 3px;"
      " padding: 0px 3px; font-size: 10px; }"
      "QLabel#userMutedMark { color: #ffffff; background-color: #9aa0a6; border-radius: 3px;"
      " padding: 0px 3px; font-size: 10px; }"
      "QToolButton { border: none; background: transparent; }"
      "QToolButton:hover { background-color: #e3ecf7; border-radius: 4px; }"));

  m_check->setObjectName(QStringLiteral("userCheck"));
  m_check->setFocusPolicy(Qt::NoFocus);
  m_levelLabel->setObjectName(QStringLiteral("userLevel"));
  m_levelLabel->setFixedHeight(18);
  m_levelLabel->setAlignment(Qt::AlignCenter);
  m_levelLabel->hide();
  m_nameLabel->setObjectName(QStringLiteral("userName"));
  // Names come from other users: never read them as rich text.
  m_nameLabel->setTextFormat(Qt::PlainText);
  m_levelLabel->setTextFormat(Qt::PlainText);
  m_medalMark->setTextFormat(Qt::PlainText);
  m_medalMark->setMaximumWidth(72);
  m_nameLabel->setMinimumWidth(40);
  m_btnVideo->setObjectName(QStringLiteral("btnUserVideo"));
  m_btnAudio->setObjectName(QStringLiteral("btnUserAudio"));
  for (QToolButton* button : {m_btnVideo, m_btnAudio}) {
    button->setIconSize(QSize(20, 20));
    button->setFixedSize(26, 26);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
  }
  connect(m_btnVideo, &QToolButton::clicked, this, [this] { emit signalVideoClicked(m_userId); });
  connect(m_btnAudio, &QToolButton::clicked, this, [this] { emit signalAudioClicked(m_userId); });

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 0, 6, 0);
  layout->setSpacing(6);
  layout->addWidget(m_check);
  layout->addWidget(m_levelLabel);
  layout->addWidget(m_nameLabel, 1);
  layout->addWidget(m_medalMark);
  layout->addWidget(m_assistantMark);
  layout->addWidget(m_handMark);
  layout->addWidget(m_mutedMark);
  layout->addWidget(m_btnVideo);
  layout->addWidget(m_btnAudio);

  setUserName(name);
  refreshIcons();
}

void UserItem::setUserName(const QString& name) {
  m_userName = name;
  m_nameLabel->setText(name);
  m_nameLabel->setToolTip(QStringLiteral("<qt>%1</qt>").arg(name.toHtmlEscaped()));
}

void UserItem::setVideoOn(bool on) {
  m_videoOn = on;
  refreshIcons();
}

void UserItem::setAudioOn(bool on) {
  m_audioOn = on;
  refreshIcons();
}

void UserItem::setHasCamera(bool present) {
  m_hasCamera = present;
  refreshIcons();
}

void UserItem::setHasMicrophone(bool present) {
  m_hasMicrophone = present;
  refreshIcons();
}

void UserItem::setDeviceMask(quint32 mask) {
  m_hasCamera = (mask & 1u) != 0;
  m_hasMicrophone = (mask & 2u) != 0;
  refreshIcons();
}

void UserItem::setCheckVisible(bool visible) {
  m_check->setVisible(visible);
  if (!visible)
    m_check->setChecked(false);
}

bool UserItem::isCheckVisible() const {
  return !m_check->isHidden();
}

bool UserItem::isChecked() const {
  return m_check->isChecked();
}

void UserItem::setChecked(bool checked) {
  m_check->setChecked(checked);
}

void UserItem::setHandUp(bool up) {
  m_handUp = up;
  m_handMark->setVisible(up);
  m_handMark->setCursor(up ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void UserItem::setMuted(bool muted) {
  m_muted = muted;
  m_mutedMark->setVisible(muted);
}

void UserItem::setAssistant(bool assistant) {
  m_assistant = assistant;
  m_assistantMark->setVisible(assistant);
}

void UserItem::setLevel(const QString& level) {
  m_level = level;
  m_levelLabel->setText(level);
  m_levelLabel->setVisible(!level.isEmpty());
}

void UserItem::setMedal(const QString& medal) {
  m_medal = medal;
  // The medal's name comes from the service; a long one is shortened in the
  // row and shown whole as the tooltip.
  const int room = m_medalMark->maximumWidth() - 6;
  m_medalMark->setText(m_medalMark->fontMetrics().elidedText(medal, Qt::ElideRight, room));
  m_medalMark->setToolTip(QStringLiteral("<qt>勋章：%1</qt>").arg(medal.toHtmlEscaped()));
  m_medalMark->setVisible(!medal.isEmpty());
}

QString UserItem::videoIconPath() const {
  if (!m_hasCamera)
    return QString::fromUtf8(kNoCamera);
  return QString::fromLatin1(m_videoOn ? kVideoOn : kVideoOff);
}

QString UserItem::audioIconPath() const {
  if (!m_hasMicrophone)
    return QString::fromUtf8(kNoMicrophone);
  return QString::fromLatin1(m_audioOn ? kAudioOn : kAudioOff);
}

void UserItem::refreshIcons() {
  m_btnVideo->setIcon(QIcon(videoIconPath()));
  m_btnAudio->setIcon(QIcon(audioIconPath()));
  m_btnVideo->setToolTip(
      !m_hasCamera ? QStringLiteral("无摄像头")
                   : (m_videoOn ? QStringLiteral("关闭视频") : QStringLiteral("打开视频")));
  m_btnAudio->setToolTip(
      !m_hasMicrophone ? QStringLiteral("无麦")
                       : (m_audioOn ? QStringLiteral("关闭声音") : QStringLiteral("打开声音")));
}

void UserItem::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    emit signalContextMenu(m_userId, event->globalPos());
    event->accept();
    return;
  }
  if (event->button() == Qt::LeftButton && m_handUp &&
      m_handMark->geometry().contains(event->pos())) {
    emit signalHandClicked(m_userId);
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void UserItem::contextMenuEvent(QContextMenuEvent* event) {
  // A right click was already reported from the press; only the menu key is left.
  if (event->reason() != QContextMenuEvent::Mouse)
    emit signalContextMenu(m_userId, event->globalPos());
  event->accept();
}
