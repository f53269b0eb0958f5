#include "GiftBar.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QJsonValue>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "ChatLines.h"
#include "ClassroomContext.h"
#include "FormBody.h"
#include "GiftButton.h"
#include "GiftEffectArea.h"
#include "GiftEffectWidget.h"
#include "GiftRules.h"
#include "JoinedUsers.h"
#include "LoginInfo.h"
#include "MemberMenu.h"
#include "PersonalPage.h"
#include "RoomMessageTypes.h"
#include "RoomSession.h"
#include "ServiceApi.h"

namespace {

bool succeeded(const QJsonObject& answer) {
  const QJsonValue code = answer.value(QStringLiteral("code"));
  return !answer.isEmpty() && (code.isUndefined() || code.isNull() || code.toInt(-1) == 0);
}

}  // namespace

GiftBar::GiftBar(ClassroomContext& context, GiftEffectArea& effects, QWidget* parent)
    : QWidget(parent),
      context_(context),
      effects_(effects),
      group_(new QButtonGroup(this)),
      buttonRow_(new QHBoxLayout),
      target_(new QComboBox(this)),
      count_(new QComboBox(this)),
      send_(new QPushButton(QStringLiteral("赠送"), this)),
      balance_(new QLabel(this)),
      recharge_(new QPushButton(QStringLiteral("充值"), this)) {
  setObjectName(QStringLiteral("giftBar"));
  setStyleSheet(QStringLiteral(
      "QPushButton#giftButton { background: #2b3038; color: #e8eaed; border: 1px solid #3a414a;"
      " border-radius: 4px; padding: 3px 6px; }"
      "QPushButton#giftButton:hover { background: #3a414a; }"
      "QPushButton#giftButton:checked { background: #1f3a66; border-color: #1a73e8; }"
      "QPushButton#btnSendGift { background: #e8710a; color: white; border: none;"
      " border-radius: 4px; padding: 4px 14px; }"
      "QPushButton#btnSendGift:disabled { background: #6b7178; }"
      "QLabel#giftBalance { color: #e8eaed; padding-left: 6px; }"
      "QPushButton#btnRecharge { background: transparent; color: #8ab4f8; border: 1px solid "
      "#3a414a;"
      " border-radius: 4px; padding: 3px 8px; }"
      "QPushButton#btnRecharge:hover { background: #3a414a; }"));
  group_->setExclusive(true);
  target_->setObjectName(QStringLiteral("cmbGiftTarget"));
  target_->setMinimumWidth(90);
  target_->setToolTip(QStringLiteral("接收礼物的人"));
  count_->setObjectName(QStringLiteral("cmbGiftCount"));
  count_->setEditable(true);
  count_->addItems(gifts::countEntries());
  count_->setMinimumWidth(150);
  send_->setObjectName(QStringLiteral("btnSendGift"));
  balance_->setObjectName(QStringLiteral("giftBalance"));
  balance_->setTextFormat(Qt::PlainText);
  recharge_->setObjectName(QStringLiteral("btnRecharge"));
  recharge_->setCursor(Qt::PointingHandCursor);
  recharge_->setToolTip(QStringLiteral("在浏览器中充值星豆"));

  buttonRow_->setSpacing(2);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  layout->addLayout(buttonRow_);
  layout->addWidget(target_);
  layout->addWidget(count_);
  layout->addWidget(send_);
  layout->addWidget(balance_);
  layout->addWidget(recharge_);

  connect(group_, &QButtonGroup::idClicked, this, &GiftBar::buttonGroupGift_buttonClicked);
  connect(count_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          &GiftBar::cmbGiftCount_currentIndexChanged);
  connect(send_, &QPushButton::clicked, this, &GiftBar::btnSendGift_clicked);
  connect(recharge_, &QPushButton::clicked, this, &GiftBar::btnRecharge_clicked);

  context_.handleRoomMessages({MSG_GIFT}, this,
                              [this](const QJsonObject& msg) { onGiftArrived(msg); });
  if (MemberMenu* menu = context_.find<MemberMenu>()) {
    menu->addMenuFiller(this, [this](QMenu& m, unsigned userId) {
      m.addAction(QStringLiteral("赠送礼物"), this, [this, userId] { onGiveGift(userId); });
    });
  }
  // A video tile's gift button chooses the receiver here too.
  connect(&context_.session(), &RoomSession::giftReceiverChosen, this, &GiftBar::onGiveGift);

  // The catalogue and the balance come with the classroom's start-up requests.
  const QString giftsPath = QString::fromLatin1(ServiceApi::kGiftFindAll.path);
  const QString balancePath = QString::fromLatin1(ServiceApi::kGetRechargeInfo.path);
  connect(&context_, &ClassroomContext::startAnswerArrived, this,
          [this, giftsPath, balancePath](const QString& path, const QJsonObject& answer) {
            if (path == giftsPath)
              onGetGiftTypeList(answer);
            else if (path == balancePath)
              onGetBalance(answer);
          });
  if (!context_.startAnswer(giftsPath).isEmpty())
    onGetGiftTypeList(context_.startAnswer(giftsPath));
  if (!context_.startAnswer(balancePath).isEmpty())
    onGetBalance(context_.startAnswer(balancePath));

  requestJoinedUsers(context_.service(), context_.roomId(), this,
                     [this](const QJsonArray& users) { onGetUsersJoined(users); });
}

QList<GiftButton*> GiftBar::giftButtons() const {
  QList<GiftButton*> buttons;
  for (QAbstractButton* b : group_->buttons())
    buttons.append(static_cast<GiftButton*>(b));
  return buttons;
}

int GiftBar::selectedGiftId() const {
  return selectedGift_;
}

QString GiftBar::balanceText() const {
  return balance_->text();
}

GiftButton* GiftBar::button(int giftId) const {
  return static_cast<GiftButton*>(group_->button(giftId));
}

void GiftBar::onGetGiftTypeList(QJsonObject answer) {
  if (!succeeded(answer) || !group_->buttons().isEmpty())
    return;
  const QJsonArray gifts = answer.value(QStringLiteral("body")).toArray();
  for (const QJsonValue& value : gifts) {
    const QJsonObject gift = value.toObject();
    const int id = gift.value(QStringLiteral("id")).toInt(-1);
    const double price = gift.value(QStringLiteral("money")).toDouble(-1);
    if (id < 0 || price < 0 || group_->button(id))
      continue;
    auto* b = new GiftButton(id, gift.value(QStringLiteral("name")).toString(), price, this);
    group_->addButton(b, id);
    buttonRow_->addWidget(b);
    const QString img = gift.value(QStringLiteral("imgPath")).toString();
    if (!img.isEmpty() && !img.contains(QStringLiteral("..")) &&
        !img.startsWith(QLatin1Char('/'))) {
      context_.service().fetchPicture(img, b, &GiftButton::onGetIcon);
    }
  }
  if (!group_->buttons().isEmpty()) {
    group_->buttons().first()->setChecked(true);
    selectedGift_ = group_->id(group_->buttons().first());
  }
}

void GiftBar::buttonGroupGift_buttonClicked(int giftId) {
  selectedGift_ = giftId;
}

void GiftBar::cmbGiftCount_currentIndexChanged(int index) {
  Q_UNUSED(index)
}

void GiftBar::onGetUsersJoined(QJsonArray users) {
  // Nobody gives gifts to themselves: the own entry is left out.
  for (const JoinedUser& user : readJoinedUsers(users))
    if (user.id != context_.ownUserId())
      addTarget(user.id, user.name);
}

void GiftBar::addTarget(quint32 userId, const QString& name) {
  if (target_->findData(qint64(userId)) < 0)
    target_->addItem(name, qint64(userId));
}

void GiftBar::onGiveGift(quint32 userId) {
  if (userId == context_.ownUserId()) {
    context_.toast(QStringLiteral("不可以自己给自己送礼物！"));
    return;
  }
  const RoomMember* member = context_.session().member(userId);
  addTarget(userId, member ? member->nickName : QString::number(userId));
  target_->setCurrentIndex(target_->findData(qint64(userId)));
  context_.toast(QStringLiteral("已选中接收礼物者，请在界面底部区域赠送礼物！"));
}

QString GiftBar::ownName() const {
  return context_.entry().ownName.isEmpty() ? LoginInfo::current().displayName
                                            : context_.entry().ownName;
}

void GiftBar::btnSendGift_clicked() {
  GiftButton* gift = button(selectedGift_);
  if (!gift) {
    context_.toast(QStringLiteral("请先选中一种礼物！"));
    return;
  }
  const quint32 targetId =
      target_->currentIndex() >= 0 ? quint32(target_->currentData().toLongLong()) : 0;
  if (targetId == context_.ownUserId()) {
    context_.toast(QStringLiteral("不可以自己给自己送礼物！"));
    return;
  }
  if (targetId == 0) {
    context_.toast(QStringLiteral("请先选择接收礼物的人！"));
    return;
  }
  const int count = gifts::countOf(count_->currentText());
  if (count <= 0) {
    context_.toast(QStringLiteral("礼物数量不正确！"));
    return;
  }
  const QString targetName = target_->currentText();
  const int giftId = gift->giftId();
  const QString body = FormBody(ServiceApi::kAddConsume.body)
                           .arg(targetId)
                           .arg(LoginInfo::current().ticket)
                           .arg(giftId)
                           .arg(count)
                           .arg(gifts::priceText(gift->price()))
                           .arg(context_.ownUserId());
  send_->setEnabled(false);  // one purchase at a time
  context_.service().post(ServiceApi::kAddConsume, body, this,
                          [this, targetName, giftId, count, targetId](QJsonObject answer) {
                            onSendGiftBack(answer, targetName, giftId, count, targetId);
                          });
}

void GiftBar::onSendGiftBack(QJsonObject answer, const QString& targetName, int giftId, int count,
                             quint32 targetId) {
  send_->setEnabled(true);
  if (!succeeded(answer)) {
    QString why = answer.isEmpty() ? QStringLiteral("网络异常")
                                   : answer.value(QStringLiteral("msg")).toString().trimmed();
    // The service's own sentence ends with its mark; ours follows without a second one.
    while (!why.isEmpty() && QStringLiteral("！!。.，,").contains(why.back()))
      why.chop(1);
    context_.toast(why + QStringLiteral("，赠送礼物失败！"));
    return;
  }
  context_.toast(QStringLiteral("赠送礼物成功！"));
  const QJsonValue body = answer.value(QStringLiteral("body"));
  balance_->setText(QStringLiteral("余额：%1")
                        .arg(body.isString() ? body.toString() : QString::number(body.toDouble())));
  GiftButton* gift = button(giftId);
  const QString giftName = gift ? gift->giftName() : QString();
  const QString line = gifts::chatLine(ownName(), targetName, giftName, count);
  if (ChatLines* chat = context_.find<ChatLines>())
    chat->addOwnLine(line);

  QJsonObject msg = context_.ownMessage(MSG_GIFT);
  msg.insert(QStringLiteral("content"), QString::number(giftId));
  msg.insert(QStringLiteral("giftName"), giftName);
  msg.insert(QStringLiteral("giftCount"), QString::number(count));
  msg.insert(QStringLiteral("acceptUsername"), targetName);
  context_.sendRoomMsg(msg, QStringLiteral("*"));

  context_.service().post(ServiceApi::kAddHistoryGift,
                          FormBody(ServiceApi::kAddHistoryGift.body)
                              .arg(QStringLiteral("gift"))
                              .arg(context_.roomId())
                              .arg(targetId)
                              .arg(count),
                          &context_, [](QJsonObject) {});
  showEffect(ownName(), targetName, giftId, count);
}

void GiftBar::btnRecharge_clicked() {
  personalpage::open(window(), ServiceApi::kPageRecharge,
                     FormBody(ServiceApi::kPutRedis.body).arg(context_.ownUserId()));
  // The payment happens in the browser: the balance is read again when the
  // user comes back to the classroom.
  if (!watchingReturn_) {
    watchingReturn_ = true;
    window()->installEventFilter(this);
  }
}

bool GiftBar::eventFilter(QObject* watched, QEvent* event) {
  if (watchingReturn_ && watched == window() && event->type() == QEvent::WindowActivate) {
    watchingReturn_ = false;
    window()->removeEventFilter(this);
    refreshBalance();
  }
  return QWidget::eventFilter(watched, event);
}

void GiftBar::refreshBalance() {
  context_.service().post(ServiceApi::kGetRechargeInfo,
                          FormBody(ServiceApi::kGetRechargeInfo.body).arg(context_.ownUserId()),
                          this, [this](QJsonObject answer) { onGetBalance(answer); });
}

void GiftBar::onGetBalance(QJsonObject answer) {
  if (!succeeded(answer))
    return;
  const QJsonValue body = answer.value(QStringLiteral("body"));
  const QJsonValue money =
      body.isObject() ? body.toObject().value(QStringLiteral("money")) : answer.value("money");
  if (money.isDouble() || money.isString())
    balance_->setText(
        QStringLiteral("余额：%1")
            .arg(money.isString() ? money.toString() : QString::number(money.toDouble())));
}

void GiftBar::onGiftArrived(const QJsonObject& msg) {
  const int count = msg.value(QStringLiteral("giftCount")).toString().toInt();
  const int giftId = msg.value(QStringLiteral("content")).toString().toInt();
  const QString sender = msg.value(QStringLiteral("sendUsername")).toString();
  const QString target = msg.value(QStringLiteral("acceptUsername")).toString();
  if (count <= 0)
    return;
  showEffect(sender, target, giftId, count);
  GiftButton* gift = button(giftId);
  const QString giftName =
      gift ? gift->giftName() : msg.value(QStringLiteral("giftName")).toString();
  if (ChatLines* chat = context_.find<ChatLines>())
    chat->addReceivedLine(msg, gifts::chatLine(sender, target, giftName, count));
}

void GiftBar::showEffect(const QString& sender, const QString& target, int giftId, int count) {
  if (!gifts::earnsEffect(count))
    return;
  GiftButton* gift = button(giftId);
  const QPixmap picture = gift && !gift->icon().isNull() ? gift->icon().pixmap(40, 40) : QPixmap();
  effects_.showEffect(new GiftEffectWidget(sender, target, picture, count));
}
