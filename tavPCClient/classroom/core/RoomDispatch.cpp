#include "RoomDispatch.h"

#include <QDebug>

#include "RoomMessage.h"

RoomDispatch::RoomDispatch(QObject* parent) : QObject(parent) {
  setObjectName(QStringLiteral("roomDispatch"));
}

void RoomDispatch::handle(std::initializer_list<int> typeIds, QObject* owner, Handler handler) {
  for (int typeId : typeIds)
    handlers_[typeId].append(Entry{owner, handler});
}

bool RoomDispatch::handles(int typeId) const {
  const auto found = handlers_.constFind(typeId);
  if (found == handlers_.constEnd())
    return false;
  for (const Entry& entry : *found)
    if (entry.owner)
      return true;
  return false;
}

void RoomDispatch::dispatch(const QJsonObject& msg) {
  const std::optional<int> typeId = roommsg::typeIdOf(msg);
  if (!typeId)
    return;
  auto found = handlers_.find(*typeId);
  if (found == handlers_.end()) {
    qDebug() << "RoomDispatch: nobody reads type" << *typeId;
    return;
  }
  // A handler may register or close things; work on a copy and skip the gone.
  const QVector<Entry> entries = *found;
  for (const Entry& entry : entries)
    if (entry.owner)
      entry.handler(msg);
}
