#include "MedalRankingList.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QLabel>
#include <QScrollArea>
#include <QSet>
#include <QVBoxLayout>

#include "ClassroomContext.h"
#include "FormBody.h"
#include "MedalRankingItem.h"
#include "ServiceApi.h"

MedalRankingList::MedalRankingList(ClassroomContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
  setObjectName(QStringLiteral("medalRanking"));
  auto* host = new QWidget;
  list_ = new QVBoxLayout(host);
  list_->setContentsMargins(0, 4, 0, 4);
  list_->setSpacing(2);
  list_->addStretch(1);
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(host);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(scroll);

  const QString path = QString::fromLatin1(ServiceApi::kFindCounterByRoomId.path);
  connect(&context_, &ClassroomContext::startAnswerArrived, this,
          [this, path](const QString& p, const QJsonObject& answer) {
            if (p == path)
              onGetRoomMedalList(answer);
          });
  if (!context_.startAnswer(path).isEmpty())
    onGetRoomMedalList(context_.startAnswer(path));
}

void MedalRankingList::reload() {
  context_.service().post(ServiceApi::kFindCounterByRoomId,
                          FormBody(ServiceApi::kFindCounterByRoomId.body).arg(context_.roomId()),
                          this, &MedalRankingList::onGetRoomMedalList);
}

void MedalRankingList::onGetRoomMedalList(QJsonObject answer) {
  if (answer.isEmpty()) {
    context_.dialogs().inform(QStringLiteral("onGetRoomMedalList Error!"));
    return;
  }
  const QJsonValue code = answer.value(QStringLiteral("code"));
  if (!code.isUndefined() && !code.isNull() && code.toInt(-1) != 0)
    return;
  for (MedalRankingItem* row : rows_) {
    list_->removeWidget(row);
    row->deleteLater();
  }
  rows_.clear();
  QSet<QString> listed;
  // Elements are objects whose members are {nickName, count}.
  for (const QJsonValue& element : answer.value(QStringLiteral("body")).toArray()) {
    const QJsonObject group = element.toObject();
    for (auto it = group.begin(); it != group.end(); ++it) {
      const QJsonObject entry = it.value().toObject();
      const QString name = entry.value(QStringLiteral("nickName")).toString();
      if (name.isEmpty() || listed.contains(name))
        continue;
      listed.insert(name);
      const int count = entry.value(QStringLiteral("count")).toVariant().toInt();
      auto* row = new MedalRankingItem(static_cast<int>(rows_.size()) + 1, name, count);
      list_->insertWidget(list_->count() - 1, row);
      rows_.append(row);
    }
  }
}
