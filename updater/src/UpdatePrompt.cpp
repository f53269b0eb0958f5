#include "updater/UpdatePrompt.h"

UpdatePrompt::UpdatePrompt(QWidget* parent) : QNMessageBox(parent) {
  setWindowTitle(QStringLiteral("塔维网升级"));
  setHeading(QStringLiteral("塔维网温馨提示"));
  setMessage(QStringLiteral("发现新版本请关掉程序开始升级。"), QStringLiteral("立即升级"),
             QString());
}
