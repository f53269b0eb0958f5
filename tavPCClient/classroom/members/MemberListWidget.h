// The classroom's member list: one section per group, each with a header
// counting its members, and the count of everyone online.
#pragma once

#include <QHash>
#include <QList>
#include <QPoint>
#include <QVector>
#include <QWidget>

class QLabel;
class QVBoxLayout;
class UserItem;

class MemberListWidget : public QWidget {
  Q_OBJECT

public:
  // In display order.
  enum Group { Teacher = 0, Inspector, Assistant, Student, Parent, Auditor };
  static constexpr int kGroupCount = 6;
  static QString groupTitle(Group group);

  explicit MemberListWidget(QWidget* parent = nullptr);

  // Adds a row at the end of the group. A known id keeps its row: name and role
  // are updated and it moves to group if that differs.
  UserItem* addUser(quint32 userId, const QString& name, int roleCode, Group group);
  bool removeUser(quint32 userId);
  UserItem* findUser(quint32 userId) const;
  bool contains(quint32 userId) const { return m_groupOf.contains(userId); }
  // Moves the row to the end of group (an assistant promoted or revoked).
  bool setGroup(quint32 userId, Group group);
  // The group of a listed user; -1 when the id is not listed.
  int groupOf(quint32 userId) const { return m_groupOf.value(userId, -1); }
  void clear();
  // Whether rows show their tick boxes (for the bulk buttons); applies to later rows too.
  void setSelectable(bool selectable);
  bool isSelectable() const { return m_selectable; }

  // Every row in display order: groups in order, each in the order added.
  QList<UserItem*> items() const;
  QList<UserItem*> items(Group group) const;
  int count() const { return m_groupOf.size(); }
  int groupCount(Group group) const;
  QString headerText(Group group) const;
  bool isSectionShown(Group group) const;
  QString countText() const;

signals:
  void signalContextMenu(quint32 userId, QPoint globalPos);
  void signalVideoClicked(quint32 userId);
  void signalAudioClicked(quint32 userId);
  void signalHandClicked(quint32 userId);

private:
  struct Section {
    QLabel* header = nullptr;
    QWidget* body = nullptr;
    QVBoxLayout* bodyLayout = nullptr;
    QVector<UserItem*> items;
  };

  void refreshSection(Group group);
  void refreshCount();

  Section m_sections[kGroupCount];
  QHash<quint32, int> m_groupOf;
  QLabel* m_countLabel;
  bool m_selectable = true;
};
