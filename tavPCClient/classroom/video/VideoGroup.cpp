#include "VideoGroup.h"

#include "PlayWnd.h"

#include <QHBoxLayout>
#include <QPushButton>

VideoGroup::VideoGroup(int maxDisplayed, QWidget* parent)
    : QWidget(parent),
      m_maxDisplayed(qMax(1, maxDisplayed)),
      m_tileLayout(new QHBoxLayout),
      m_btnPrevious(new QPushButton(this)),
      m_btnNext(new QPushButton(this)) {
  // The scroll signal carries id lists, also across queued connections.
  qRegisterMetaType<QList<quint32>>("QList<quint32>");
  setObjectName(QStringLiteral("VideoGroup"));
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(QStringLiteral(
      "QWidget#VideoGroup { background-color: #16181d; }"
      "QPushButton#btnVideoPrevious, QPushButton#btnVideoNext { background-color: #2c313a;"
      " border: none; border-radius: 4px; }"
      "QPushButton#btnVideoPrevious:hover, QPushButton#btnVideoNext:hover {"
      " background-color: #0072ca; }"));
  m_btnPrevious->setObjectName(QStringLiteral("btnVideoPrevious"));
  m_btnNext->setObjectName(QStringLiteral("btnVideoNext"));
  m_btnPrevious->setIcon(QIcon(QStringLiteral(":/res/tav_add/arrow_left.png")));
  m_btnNext->setIcon(QIcon(QStringLiteral(":/res/tav_add/arrow_right.png")));
  for (QPushButton* button : {m_btnPrevious, m_btnNext}) {
    button->setFixedWidth(24);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    button->hide();
  }
  connect(m_btnPrevious, &QPushButton::clicked, this, &VideoGroup::scrollPrevious);
  connect(m_btnNext, &QPushButton::clicked, this, &VideoGroup::scrollNext);

  m_tileLayout->setContentsMargins(0, 0, 0, 0);
  m_tileLayout->setSpacing(6);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(6);
  layout->addWidget(m_btnPrevious);
  layout->addLayout(m_tileLayout, 1);
  layout->addWidget(m_btnNext);
}

VideoGroup::~VideoGroup() = default;

VideoGroup::AddResult VideoGroup::add(quint32 id, const QString& name, int role, bool pinFirst) {
  AddResult result;
  if (id == 0 || contains(id))
    return result;
  Member member;
  member.id = id;
  member.name = name;
  member.role = role;
  if (pinFirst) {
    m_displayed.prepend(member);
    showMember(m_displayed.first(), 0);
    if (m_displayed.size() > m_maxDisplayed)
      result.bumpedId = moveLastDisplayedToWaitingFront();
    result.placement = AddResult::Displayed;
    result.tile = m_displayed.first().tile;
  } else if (m_displayed.size() < m_maxDisplayed) {
    m_displayed.append(member);
    showMember(m_displayed.last(), m_displayed.size() - 1);
    result.placement = AddResult::Displayed;
    result.tile = m_displayed.last().tile;
  } else {
    m_waiting.append(member);
    result.placement = AddResult::Waiting;
  }
  refreshScrollButtons();
  return result;
}

quint32 VideoGroup::remove(quint32 id) {
  for (int i = 0; i < m_waiting.size(); ++i) {
    if (m_waiting.at(i).id == id) {
      m_waiting.removeAt(i);
      refreshScrollButtons();
      return 0;
    }
  }
  quint32 promoted = 0;
  for (int i = 0; i < m_displayed.size(); ++i) {
    if (m_displayed.at(i).id != id)
      continue;
    hideMember(m_displayed[i]);
    m_displayed.removeAt(i);
    if (!m_waiting.isEmpty() && m_displayed.size() < m_maxDisplayed) {
      m_displayed.append(m_waiting.takeFirst());
      showMember(m_displayed.last(), m_displayed.size() - 1);
      promoted = m_displayed.last().id;
    }
    break;
  }
  refreshScrollButtons();
  return promoted;
}

quint32 VideoGroup::moveLastDisplayedToWaitingFront() {
  if (m_displayed.isEmpty())
    return 0;
  Member member = m_displayed.takeLast();
  hideMember(member);
  m_waiting.prepend(member);
  refreshScrollButtons();
  return member.id;
}

void VideoGroup::clear() {
  for (Member& member : m_displayed)
    hideMember(member);
  m_displayed.clear();
  m_waiting.clear();
  refreshScrollButtons();
}

PlayWnd* VideoGroup::tile(quint32 id) const {
  for (const Member& member : m_displayed) {
    if (member.id == id)
      return member.tile;
  }
  return nullptr;
}

bool VideoGroup::contains(quint32 id) const {
  for (const QList<Member>* list : {&m_displayed, &m_waiting}) {
    for (const Member& member : *list) {
      if (member.id == id)
        return true;
    }
  }
  return false;
}

QList<quint32> VideoGroup::displayed() const {
  QList<quint32> ids;
  for (const Member& member : m_displayed)
    ids.append(member.id);
  return ids;
}

QList<quint32> VideoGroup::waiting() const {
  QList<quint32> ids;
  for (const Member& member : m_waiting)
    ids.append(member.id);
  return ids;
}

bool VideoGroup::scrollButtonsShown() const {
  return !m_btnNext->isHidden();
}

void VideoGroup::setHoverAllowed(bool allowed) {
  m_hoverAllowed = allowed;
  for (Member& member : m_displayed)
    member.tile->setHoverAllowed(allowed);
}

void VideoGroup::scrollNext() {
  if (m_waiting.isEmpty() || m_displayed.isEmpty())
    return;
  Member leaving = m_displayed.takeFirst();
  hideMember(leaving);
  m_waiting.append(leaving);
  m_displayed.append(m_waiting.takeFirst());
  showMember(m_displayed.last(), m_displayed.size() - 1);
  emit signalScrolled({leaving.id}, {m_displayed.last().id});
}

void VideoGroup::scrollPrevious() {
  if (m_waiting.isEmpty() || m_displayed.isEmpty())
    return;
  Member leaving = m_displayed.takeLast();
  hideMember(leaving);
  m_waiting.prepend(leaving);
  m_displayed.prepend(m_waiting.takeLast());
  showMember(m_displayed.first(), 0);
  emit signalScrolled({leaving.id}, {m_displayed.first().id});
}

void VideoGroup::showMember(Member& member, int position) {
  auto* wnd = new PlayWnd(this);
  wnd->setUser(member.id, member.name, member.role);
  wnd->setVideoOn(true);
  wnd->setAudioOn(member.audioOn);
  wnd->setHoverAllowed(m_hoverAllowed);
  connect(wnd, &PlayWnd::signalPlayWndOpr, this, &VideoGroup::signalPlayWndOpr);
  member.tile = wnd;
  m_tileLayout->insertWidget(position, wnd);
  wnd->show();
}

void VideoGroup::hideMember(Member& member) {
  if (!member.tile)
    return;
  // The audio mark comes back with the tile when the user is shown again.
  member.audioOn = member.tile->isAudioOn();
  m_tileLayout->removeWidget(member.tile);
  // Later: the request to drop the tile may come from one of its own buttons.
  member.tile->hide();
  member.tile->deleteLater();
  member.tile = nullptr;
}

void VideoGroup::refreshScrollButtons() {
  const bool show = !m_waiting.isEmpty();
  m_btnPrevious->setVisible(show);
  m_btnNext->setVisible(show);
}
