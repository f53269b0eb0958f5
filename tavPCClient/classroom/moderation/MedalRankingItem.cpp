#include "MedalRankingItem.h"

#include <QHBoxLayout>
#include <QLabel>

MedalRankingItem::MedalRankingItem(int rank, const QString& name, int count, QWidget* parent)
    : QWidget(parent), name_(name), count_(count) {
  setObjectName(QStringLiteral("medalRankingItem"));
  auto* rankLabel = new QLabel(QString::number(rank), this);
  rankLabel->setObjectName(QStringLiteral("medalRank"));
  rankLabel->setFixedWidth(24);
  rankLabel->setAlignment(Qt::AlignCenter);
  rankLabel->setStyleSheet(rank <= 3 ? QStringLiteral("color: white; background: #e8710a; border-radius: 10px;")
                                     : QStringLiteral("color: #5f6368;"));
  auto* nameLabel = new QLabel(this);
  nameLabel->setObjectName(QStringLiteral("medalName"));
  nameLabel->setTextFormat(Qt::PlainText);
  nameLabel->setText(name);
  nameLabel->setToolTip(name.toHtmlEscaped());
  auto* caption = new QLabel(QStringLiteral("获得奖励勋章"), this);
  caption->setStyleSheet(QStringLiteral("color: #9aa0a6; font-size: 11px;"));
  auto* countLabel = new QLabel(QString::number(count), this);
  countLabel->setObjectName(QStringLiteral("medalCount"));
  countLabel->setStyleSheet(QStringLiteral("color: #e8710a; font-weight: bold;"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 4, 8, 4);
  layout->addWidget(rankLabel);
  layout->addWidget(nameLabel, 1);
  layout->addWidget(caption);
  layout->addWidget(countLabel);
}
