#include "MemberListWidget.h"

#include "UserItem.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

QString MemberListWidget::groupTitle(Group group) {
  switch (group) {
    case Teacher:
      return QStringLiteral("老师");
    case Inspector:
      return QStringLiteral("巡管");
    case Assistant:
      return QStringLiteral("助教");
    case Student:
      return QStringLiteral("学生");
    case Parent:
      return QStringLiteral("家长");
    case Auditor:
      return QStringLiteral("旁听");
  }
  return QString();
}

MemberListWidget::MemberListWidget(QWidget* parent)
    : QWidget(parent), m_countLabel(new QLabel(this)) {
  setObjectName(QStringLiteral("MemberListWidget"));
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(QStringLiteral(
      "QWidget#MemberListWidget { background-color: #ffffff; }"
      "QLabel#memberCount { color: #2b2f36; font-size: 13px; font-weight: bold;"
      " padding: 8px 10px; border-bottom: 1px solid #e4e7ec; }"
      "QLabel#memberSectionHeader { color: #6b7280; background-color: #f5f6f8; font-size: 12px;"
      " padding: 4px 10px; }"
      "QScrollArea { border: none; background: transparent; }"
      "QWidget#memberListContent { background-color: #ffffff; }"));

  m_countLabel->setObjectName(QStringLiteral("memberCount"));
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* content = new QWidget(scroll);
  content->setObjectName(QStringLiteral("memberListContent"));
  auto* contentLayout = new QVBoxLayout(content);
  contentLayout->setContentsMargins(0, 0, 0, 0);
  contentLayout->setSpacing(0);
  for (int g = 0; g < kGroupCount; ++g) {
    Section& section = m_sections[g];
    section.header = new QLabel(content);
    section.header->setObjectName(QStringLiteral("memberSectionHeader"));
    section.body = new QWidget(content);
    section.bodyLayout = new QVBoxLayout(section.body);
    section.bodyLayout->setContentsMargins(0, 0, 0, 0);
    section.bodyLayout->setSpacing(0);
    contentLayout->addWidget(section.header);
    contentLayout->addWidget(section.body);
    refreshSection(static_cast<Group>(g));
  }
  contentLayout->addStretch(1);
  scroll->setWidget(content);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(m_countLabel);
  layout->addWidget(scroll, 1);
  refreshCount();
}

UserItem* MemberListWidget::addUser(quint32 userId, const QString& name, int roleCode,
                                    Group group) {
  if (group < 0 || group >= kGroupCount)
    return nullptr;
  if (UserItem* existing = findUser(userId)) {
    existing->setUserName(name);
    existing->setRoleCode(roleCode);
    setGroup(userId, group);
    return existing;
  }
  Section& section = m_sections[group];
  auto* item = new UserItem(userId, name, roleCode, section.body);
  item->setCheckVisible(m_selectable);
  connect(item, &UserItem::signalContextMenu, this, &MemberListWidget::signalContextMenu);
  connect(item, &UserItem::signalVideoClicked, this, &MemberListWidget::signalVideoClicked);
  connect(item, &UserItem::signalAudioClicked, this, &MemberListWidget::signalAudioClicked);
  connect(item, &UserItem::signalHandClicked, this, &MemberListWidget::signalHandClicked);
  section.items.append(item);
  section.bodyLayout->addWidget(item);
  m_groupOf.insert(userId, group);
  refreshSection(group);
  refreshCount();
  return item;
}

void MemberListWidget::setSelectable(bool selectable) {
  m_selectable = selectable;
  for (UserItem* item : items())
    item->setCheckVisible(selectable);
}

bool MemberListWidget::removeUser(quint32 userId) {
  const int group = groupOf(userId);
  if (group < 0)
    return false;
  Section& section = m_sections[group];
  for (int i = 0; i < section.items.size(); ++i) {
    UserItem* item = section.items.at(i);
    if (item->userId() == userId) {
      section.items.remove(i);
      section.bodyLayout->removeWidget(item);
      delete item;
      break;
    }
  }
  m_groupOf.remove(userId);
  refreshSection(static_cast<Group>(group));
  refreshCount();
  return true;
}

UserItem* MemberListWidget::findUser(quint32 userId) const {
  const int group = groupOf(userId);
  if (group < 0)
    return nullptr;
  for (UserItem* item : m_sections[group].items) {
    if (item->userId() == userId)
      return item;
  }
  return nullptr;
}

bool MemberListWidget::setGroup(quint32 userId, Group group) {
  if (group < 0 || group >= kGroupCount)
    return false;
  const int from = groupOf(userId);
  if (from < 0)
    return false;
  if (from == group)
    return true;
  UserItem* item = findUser(userId);
  Section& source = m_sections[from];
  source.items.removeOne(item);
  source.bodyLayout->removeWidget(item);
  Section& target = m_sections[group];
  item->setParent(target.body);
  target.items.append(item);
  target.bodyLayout->addWidget(item);
  item->show();
  m_groupOf.insert(userId, group);
  refreshSection(static_cast<Group>(from));
  refreshSection(group);
  return true;
}

void MemberListWidget::clear() {
  for (int g = 0; g < kGroupCount; ++g) {
    Section& section = m_sections[g];
    qDeleteAll(section.items);
    section.items.clear();
    refreshSection(static_cast<Group>(g));
  }
  m_groupOf.clear();
  refreshCount();
}

QList<UserItem*> MemberListWidget::items() const {
  QList<UserItem*> all;
  for (const Section& section : m_sections) {
    for (UserItem* item : section.items)
      all.append(item);
  }
  return all;
}

QList<UserItem*> MemberListWidget::items(Group group) const {
  if (group < 0 || group >= kGroupCount)
    return {};
  return m_sections[group].items.toList();
}

int MemberListWidget::groupCount(Group group) const {
  if (group < 0 || group >= kGroupCount)
    return 0;
  return m_sections[group].items.size();
}

QString MemberListWidget::headerText(Group group) const {
  if (group < 0 || group >= kGroupCount)
    return QString();
  return m_sections[group].header->text();
}

bool MemberListWidget::isSectionShown(Group group) const {
  if (group < 0 || group >= kGroupCount)
    return false;
  return !m_sections[group].header->isHidden();
}

QString MemberListWidget::countText() const {
  return m_countLabel->text();
}

void MemberListWidget::refreshSection(Group group) {
  Section& section = m_sections[group];
  const int n = section.items.size();
  section.header->setText(QStringLiteral("%1 (%2)").arg(groupTitle(group)).arg(n));
  section.header->setVisible(n > 0);
  section.body->setVisible(n > 0);
}

void MemberListWidget::refreshCount() {
  m_countLabel->setText(QStringLiteral("在线人数：%1").arg(m_groupOf.size()));
}
