// The member list's context menu as other parts reach it to add their own
// actions (give a gift, award a medal, mute, remove, ...): offered by the
// member list. A filler adds what applies to that member; the menu opens only
// when it has something. Also the ticked members and the bulk buttons' row.
#pragma once

#include <QList>
#include <functional>

class QMenu;
class QPushButton;
class QObject;

class MemberMenu {
public:
  using Filler = std::function<void(QMenu& menu, unsigned userId)>;
  virtual ~MemberMenu() = default;
  // Fillers run in the order they were added, while their owner exists.
  virtual void addMenuFiller(QObject* owner, Filler filler) = 0;
  // The members whose selection box is ticked, in list order.
  virtual QList<quint32> tickedMembers() const = 0;
  // A button for the row of the teacher's bulk buttons (the row takes it).
  virtual void addBulkButton(QPushButton* button) = 0;
};
