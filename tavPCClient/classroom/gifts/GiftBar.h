// Giving gifts: the catalogue as one exclusive row of gift buttons, the
// receiver and count boxes, the give button and the balance. A gift is paid at
// the service first; only then does the room hear of it (a chat line for all,
// an effect for more than nine); the recharge button opens the payment page.
// The member menu's "赠送礼物" picks the receiver. Gifts others give arrive as
// room messages.
#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>

class ClassroomContext;
class GiftButton;
class GiftEffectArea;
class QButtonGroup;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;

class GiftBar : public QWidget {
  Q_OBJECT

public:
  GiftBar(ClassroomContext& context, GiftEffectArea& effects, QWidget* parent = nullptr);

  // What the bar holds (tests).
  QList<GiftButton*> giftButtons() const;
  int selectedGiftId() const;
  QString balanceText() const;

public slots:
  void onGetGiftTypeList(QJsonObject answer);
  void buttonGroupGift_buttonClicked(int giftId);
  void cmbGiftCount_currentIndexChanged(int index);
  void onGetUsersJoined(QJsonArray users);
  void onGiveGift(quint32 userId);
  void btnSendGift_clicked();
  void onSendGiftBack(QJsonObject answer, const QString& targetName, int giftId, int count,
                      quint32 targetId);
  void onGetBalance(QJsonObject answer);
  // Opens the recharge page in the browser; the balance is read again when the
  // classroom window is active once more.
  void btnRecharge_clicked();
  void refreshBalance();
  // A gift somebody else gave (MSG_GIFT).
  void onGiftArrived(const QJsonObject& msg);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  GiftButton* button(int giftId) const;
  // Shows the effect when the count earns one.
  void showEffect(const QString& sender, const QString& target, int giftId, int count);
  void addTarget(quint32 userId, const QString& name);
  QString ownName() const;

  ClassroomContext& context_;
  GiftEffectArea& effects_;
  QButtonGroup* group_;
  QHBoxLayout* buttonRow_;
  QComboBox* target_;
  QComboBox* count_;
  QPushButton* send_;
  QLabel* balance_;
  QPushButton* recharge_;
  bool watchingReturn_ = false;
  int selectedGift_ = -1;
};
