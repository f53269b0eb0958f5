#include "LoginDialog.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "WndDragFilter.h"

LoginDialog::LoginDialog(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint),
      account_(new QComboBox(this)),
      password_(new QLineEdit(this)),
      login_(new QPushButton(QStringLiteral("登 录"), this)),
      register_(new QPushButton(QStringLiteral("注册账号"), this)),
      shortMessage_(new QPushButton(QStringLiteral("短信登录"), this)),
      minimize_(new QPushButton(this)),
      close_(new QPushButton(this)),
      status_(new QLabel(this)) {
  setObjectName(QStringLiteral("LoginDialog"));
  setAttribute(Qt::WA_StyledBackground);
  setWindowTitle(QStringLiteral("登录"));
  setFixedSize(400, 480);
  installEventFilter(new WndDragFilter(this));

  // Title bar: minimise and close on the right.
  minimize_->setObjectName(QStringLiteral("titleMinimize"));
  close_->setObjectName(QStringLiteral("titleClose"));
  for (QPushButton* b : {minimize_, close_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setCursor(Qt::PointingHandCursor);
    b->setFixedSize(28, 28);
  }
  minimize_->setToolTip(QStringLiteral("最小化"));
  close_->setToolTip(QStringLiteral("关闭"));
  connect(minimize_, &QPushButton::clicked, this, &QWidget::showMinimized);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  auto* titleBar = new QHBoxLayout;
  titleBar->setContentsMargins(0, 0, 0, 0);
  titleBar->addStretch();
  titleBar->addWidget(minimize_);
  titleBar->addWidget(close_);

  auto* logo = new QLabel(this);
  logo->setObjectName(QStringLiteral("loginLogo"));
  logo->setPixmap(QPixmap(QStringLiteral(":/res/tav_add/logo_big.png")));
  logo->setAlignment(Qt::AlignCenter);
  auto* title = new QLabel(QStringLiteral("在线课堂"), this);
  title->setObjectName(QStringLiteral("loginTitle"));
  title->setAlignment(Qt::AlignCenter);

  account_->setObjectName(QStringLiteral("loginAccount"));
  account_->setEditable(true);
  account_->setMaxVisibleItems(5);
  account_->setInsertPolicy(QComboBox::NoInsert);
  account_->lineEdit()->setPlaceholderText(QStringLiteral("请输入账号"));
  account_->lineEdit()->addAction(QIcon(QStringLiteral(":/res/tav_add/user.png")),
                                  QLineEdit::LeadingPosition);
  account_->setFixedHeight(40);

  password_->setObjectName(QStringLiteral("loginPassword"));
  password_->setEchoMode(QLineEdit::Password);
  password_->setPlaceholderText(QStringLiteral("请输入密码"));
  password_->addAction(QIcon(QStringLiteral(":/res/tav_add/lock.png")), QLineEdit::LeadingPosition);
  password_->setFixedHeight(40);

  status_->setObjectName(QStringLiteral("loginStatus"));
  status_->setAlignment(Qt::AlignCenter);
  status_->setWordWrap(true);
  status_->hide();

  login_->setObjectName(QStringLiteral("primaryButton"));
  login_->setDefault(true);
  login_->setFixedHeight(42);
  login_->setCursor(Qt::PointingHandCursor);

  for (QPushButton* b : {register_, shortMessage_}) {
    b->setObjectName(QStringLiteral("linkButton"));
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
  }
  auto* links = new QHBoxLayout;
  links->addWidget(register_);
  links->addStretch();
  links->addWidget(shortMessage_);

  auto* form = new QVBoxLayout;
  form->setContentsMargins(40, 0, 40, 0);
  form->setSpacing(14);
  form->addWidget(account_);
  form->addWidget(password_);
  form->addWidget(status_);
  form->addWidget(login_);
  form->addLayout(links);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 24);
  layout->setSpacing(8);
  layout->addLayout(titleBar);
  layout->addWidget(logo);
  layout->addWidget(title);
  layout->addSpacing(16);
  layout->addLayout(form);
  layout->addStretch();
}
