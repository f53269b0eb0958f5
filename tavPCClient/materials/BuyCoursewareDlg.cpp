#include "BuyCoursewareDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ClassroomContext.h"
#include "FormBody.h"
#include "ServiceApi.h"

BuyCoursewareDlg::BuyCoursewareDlg(ClassroomContext& context, int coursewareId, int price,
                                   QWidget* parent)
    : QDialog(parent),
      context_(context),
      id_(coursewareId),
      buy_(new QPushButton(QStringLiteral("立即购买"), this)) {
  setObjectName(QStringLiteral("BuyCoursewareDlg"));
  setWindowTitle(QStringLiteral("购买课件"));
  setMinimumWidth(300);
  auto* text = new QLabel(QStringLiteral("%1星豆").arg(price), this);
  text->setObjectName(QStringLiteral("buyPrice"));
  text->setAlignment(Qt::AlignCenter);
  buy_->setObjectName(QStringLiteral("btnBuy"));
  auto* later = new QPushButton(QStringLiteral("稍后再说"), this);
  later->setObjectName(QStringLiteral("btnBuyLater"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(buy_);
  buttons->addWidget(later);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addLayout(buttons);
  connect(buy_, &QPushButton::clicked, this, &BuyCoursewareDlg::btnBuy_clicked);
  connect(later, &QPushButton::clicked, this, &QDialog::reject);
}

void BuyCoursewareDlg::btnBuy_clicked() {
  buy_->setEnabled(false);  // one purchase, however often it is clicked
  context_.service().post(
      ServiceApi::kAddOrderInfo,
      FormBody(ServiceApi::kAddOrderInfo.body).arg(id_).arg(context_.ownUserId()), this,
      [this](QJsonObject answer) { onAddOrderBack(answer); });
}

void BuyCoursewareDlg::onAddOrderBack(QJsonObject answer) {
  const QJsonValue code = answer.value(QStringLiteral("code"));
  const bool ok = !answer.isEmpty() && (code.isUndefined() || code.toInt(-1) == 0);
  if (!ok) {
    buy_->setEnabled(true);
    context_.toast(answer.isEmpty() ? QStringLiteral("网络异常，请检查网络后重试！")
                                    : answer.value(QStringLiteral("msg")).toString());
    return;
  }
  context_.toast(QStringLiteral("购买成功，星豆余额已扣除，即将播放课件！"));
  accept();
}
