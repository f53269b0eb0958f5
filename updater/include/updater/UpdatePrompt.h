// The updater's prompt: the client's message box with the upgrade texts and
// one button, "立即升级".
#pragma once

#include "QNMessageBox.h"

class UpdatePrompt : public QNMessageBox {
  Q_OBJECT

public:
  explicit UpdatePrompt(QWidget* parent = nullptr);
};
