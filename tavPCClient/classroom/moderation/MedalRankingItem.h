// One row of the room's medal ranking: rank, name, medals received.
#pragma once

#include <QWidget>

class MedalRankingItem : public QWidget {
  Q_OBJECT

public:
  MedalRankingItem(int rank, const QString& name, int count, QWidget* parent = nullptr);

  QString name() const { return name_; }
  int count() const { return count_; }

private:
  const QString name_;
  const int count_;
};
