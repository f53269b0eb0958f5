// The room's medal ranking (a side panel tab): one row per member name in the
// order the service gives, asked again whenever a medal is awarded.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QWidget>
#include <functional>

class ClassroomContext;
class MedalRankingItem;
class QVBoxLayout;

class MedalRankingList : public QWidget {
  Q_OBJECT

public:
  explicit MedalRankingList(ClassroomContext& context, QWidget* parent = nullptr);

  QList<MedalRankingItem*> rows() const { return rows_; }

public slots:
  void reload();
  void onGetRoomMedalList(QJsonObject answer);

private:
  ClassroomContext& context_;
  QVBoxLayout* list_;
  QList<MedalRankingItem*> rows_;
};
