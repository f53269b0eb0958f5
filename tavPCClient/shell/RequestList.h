// A teacher's list of members' requests (to write on the board, for the
// teaching tool): one item per requesting member, however often the member
// asks, in the order the requests came. Not modal: the class goes on while it
// is open.
#pragma once

#include <QDialog>
#include <QMap>

class QLabel;
class QVBoxLayout;
class RequestItem;

class RequestList : public QDialog {
  Q_OBJECT
public:
  RequestList(const QString& title, const QString& emptyText, QWidget* parent);

  // Lists the item (made with rows() as its parent); false, and the item
  // deleted, when its member is already listed.
  bool addItem(RequestItem* item);
  // Takes the member's item off the list and deletes it later, so an item may
  // ask for its own removal from its signal. Nothing when it is not listed.
  void removeRequest(quint32 userId);
  void clear();
  RequestItem* requestItem(quint32 userId) const { return items_.value(userId); }
  int count() const { return items_.size(); }
  QWidget* rows() const;

signals:
  void countChanged(int count);

private:
  void showEmptyState();

  QMap<quint32, RequestItem*> items_;
  QVBoxLayout* rows_;
  QLabel* empty_;
};
