#include "AuthorizeDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Prompt.h"
#include "WndDragFilter.h"

namespace {
constexpr int kLongestCode = 6;  // what the room settings accept
}

AuthorizeDialog::AuthorizeDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), code_(new QLineEdit(this)) {
  setObjectName(QStringLiteral("AuthorizeDialog"));
  setAttribute(Qt::WA_StyledBackground);
  setModal(true);
  setFixedSize(400, 230);
  installEventFilter(new WndDragFilter(this));

  auto* close = new QPushButton(QStringLiteral("×"), this);
  close->setObjectName(QStringLiteral("titleClose"));
  close->setFocusPolicy(Qt::NoFocus);
  auto* title = new QHBoxLayout;
  title->addStretch();
  title->addWidget(close);

  auto* text = new QLabel(QStringLiteral("私密教室，需要授权码才能进入"), this);
  text->setObjectName(QStringLiteral("dialogText"));
  text->setAlignment(Qt::AlignCenter);

  code_->setPlaceholderText(QStringLiteral("输入老师告诉的授权码"));
  code_->setFixedHeight(34);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("授权码："), this));
  row->addWidget(code_, 1);

  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(QStringLiteral("primaryButton"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("取消"), this);
  cancel->setObjectName(QStringLiteral("secondaryButton"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 6, 24, 20);
  layout->addLayout(title);
  layout->addWidget(text);
  layout->addLayout(row);
  layout->addStretch();
  layout->addLayout(buttons);

  connect(ok, &QPushButton::clicked, this, &AuthorizeDialog::slot_ButtonOK);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

QString AuthorizeDialog::code() const {
  return code_->text().trimmed();
}

void AuthorizeDialog::slot_ButtonOK() {
  // A code no room can have is wrong without asking.
  const QString typed = code();
  if (typed.isEmpty() || typed.size() > kLongestCode) {
    slot_CodeRefused();
    return;
  }
  emit signal_CodeEntered(typed);
}

void AuthorizeDialog::slot_CodeRefused() {
  Prompt::instance()->showMessage(this, QStringLiteral("授权码错误！"));
}
