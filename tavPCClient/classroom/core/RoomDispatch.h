// Which part of the classroom reads which room message: one table from
// typeId to the handlers registered for it. Room messages (from the room
// channel or the peer path, already filtered by the messenger) and board
// messages go through the same table; a handler lives as long as the object
// it was registered with.
#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QVector>
#include <functional>
#include <initializer_list>

class RoomDispatch : public QObject {
  Q_OBJECT

public:
  using Handler = std::function<void(const QJsonObject&)>;

  explicit RoomDispatch(QObject* parent = nullptr);

  // Messages of these types go to handler while owner exists.
  void handle(std::initializer_list<int> typeIds, QObject* owner, Handler handler);
  bool handles(int typeId) const;

public slots:
  // A message from the room dispatch ("typeId" a decimal string) or the board
  // dispatch ("typeId" a number); one nobody handles is dropped.
  void dispatch(const QJsonObject& msg);

private:
  struct Entry {
    QPointer<QObject> owner;
    Handler handler;
  };
  QHash<int, QVector<Entry>> handlers_;
};
