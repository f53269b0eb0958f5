// The teacher's list of board-writing requests ("申请板书的请求列表"): one item
// per requesting member, however often the member asks. Not modal: the class
// goes on while it is open.
#pragma once

#include <QDialog>
#include <QMap>

class QLabel;
class QVBoxLayout;

namespace vw {

class AnnotationAppItem;

class AnnotationAppList : public QDialog {
  Q_OBJECT
public:
  explicit AnnotationAppList(QWidget* parent);

  // The new item; null when the member is already listed.
  AnnotationAppItem* addRequest(quint32 userId, const QString& displayName);
  // Takes the member's item off the list and deletes it later, so an item may
  // ask for its own removal from its signal. Nothing when it is not listed.
  void removeRequest(quint32 userId);
  AnnotationAppItem* item(quint32 userId) const;
  int count() const { return items_.size(); }

private:
  void showEmptyState();

  QMap<quint32, AnnotationAppItem*> items_;
  QVBoxLayout* rows_;
  QLabel* empty_;
};

}  // namespace vw
