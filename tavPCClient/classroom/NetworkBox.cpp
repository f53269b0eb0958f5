#include "NetworkBox.h"

#include "QNMessageBox.h"

void NetworkBox::show() {
  auto* box = new QNMessageBox(nullptr);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName(QStringLiteral("networkWeakBox"));
  box->setMessage(QStringLiteral("当前网络不给力,请检查网络后重试！"), QString(), QString(), kShowMs);
  box->setModal(true);
  box->show();
}
