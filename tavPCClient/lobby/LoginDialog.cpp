#include "LoginDialog.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QJsonValue>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "FormBody.h"
#include "HttpRequest.h"
#include "LocalConfig.h"
#include "LoginInfo.h"
#include "OpenInBrowser.h"
#include "RoomMessage.h"
#include "ServiceApi.h"
#include "UserDialog.h"
#include "WndDragFilter.h"
#include "platform/platform.h"

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

  loadAccounts();
  connect(login_, &QPushButton::clicked, this, &LoginDialog::slot_ButtonLogin);
  connect(password_, &QLineEdit::returnPressed, this, &LoginDialog::slot_ButtonLogin);
  connect(register_, &QPushButton::clicked, this, &LoginDialog::slot_ButtonRegister);
  connect(shortMessage_, &QPushButton::clicked, this, &LoginDialog::slot_ButtonShortMessage);
  connect(account_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          &LoginDialog::slot_currentIndexChanged);
  connect(account_, &QComboBox::editTextChanged, this, &LoginDialog::slot_editTextChanged);
}

namespace {
QPointer<LoginDialog>& currentLogin() {
  static QPointer<LoginDialog> dialog;
  return dialog;
}
}  // namespace

LoginDialog* LoginDialog::current() {
  return currentLogin();
}

void LoginDialog::setCurrent(LoginDialog* dialog) {
  currentLogin() = dialog;
}

LoginDialog* LoginDialog::replaceCurrent() {
  if (LoginDialog* old = currentLogin()) {
    old->close();
    old->deleteLater();
  }
  auto* fresh = new LoginDialog;
  currentLogin() = fresh;
  fresh->show();
  return fresh;
}

UserDialog* LoginDialog::lobby() const {
  return static_cast<UserDialog*>(lobby_.data());
}

void LoginDialog::loadAccounts() {
  accounts_ = AccountStore::readAccounts();
  const QSignalBlocker block(account_);
  for (const AccountRecord& record : accounts_)
    account_->addItem(record.userName);
  if (!accounts_.isEmpty()) {
    account_->setCurrentIndex(0);
    password_->setText(accounts_.first().password);
  }
}

void LoginDialog::showStatus(const QString& text) {
  status_->setText(text);
  status_->show();
}

void LoginDialog::slot_currentIndexChanged(int index) {
  if (index >= 0 && index < accounts_.size())
    password_->setText(accounts_[index].password);
}

void LoginDialog::slot_editTextChanged(const QString& text) {
  for (const AccountRecord& record : accounts_) {
    if (record.userName.compare(text, Qt::CaseInsensitive) == 0) {
      password_->setText(record.password);
      return;
    }
  }
  password_->clear();
}

void LoginDialog::slot_ButtonLogin() {
  if (!login_->isEnabled())
    return;
  const QString account = account_->currentText();
  if (account.isEmpty()) {
    showStatus(QStringLiteral("请输入用户名......"));
    return;
  }
  if (password_->text().isEmpty()) {
    showStatus(QStringLiteral("请输入密码......"));
    return;
  }
  auto* request = new HttpRequest;
  connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), this,
          &LoginDialog::slot_login_reply);
  request->request(HttpRequest::serviceUrl(ServiceApi::kLogin.path),
                   FormBody(ServiceApi::kLogin.body).arg(account).arg(password_->text()),
                   HttpRequest::kJson);
  showStatus(QStringLiteral("正在登录......"));
  login_->setEnabled(false);
}

void LoginDialog::slot_login_reply(QJsonObject answer) {
  login_->setEnabled(true);
  if (answer.isEmpty()) {
    showStatus(QStringLiteral("网络异常，登录失败！"));
    return;
  }
  if (answer.value(QStringLiteral("code")).toInt(-1) != 0) {
    showStatus(answer.value(QStringLiteral("msg")).toString());
    return;
  }
  const QJsonObject body = answer.value(QStringLiteral("body")).toObject();
  const quint32 userId = roommsg::userIdOf(body.value(QStringLiteral("globalId"))).value_or(0);
  if (userId == 0) {
    // A success without a usable account id cannot be signed in with.
    showStatus(QStringLiteral("网络异常，登录失败！"));
    return;
  }

  LoginInfo& info = LoginInfo::current();
  info.userId = userId;
  info.userIdText = QString::number(info.userId);
  info.ticket = body.value(QStringLiteral("ticketId")).toString();
  info.displayName = body.value(QStringLiteral("nickName")).toString();
  if (info.displayName.isEmpty())
    info.displayName = body.value(QStringLiteral("phone")).toString();
  info.roleName = body.value(QStringLiteral("roleName")).toString();
  info.orgId = answer.value(QStringLiteral("orgInfo"))
                   .toObject()
                   .value(QStringLiteral("id"))
                   .toVariant()
                   .toLongLong();
  info.avatarPath = body.value(QStringLiteral("imagePath")).toString();
  info.oneLoginServer = answer.value(QStringLiteral("chat_server")).toString();
  info.oneLoginCredential = answer.value(QStringLiteral("chat_credential")).toString();

  AccountStore::writeAccount(info.userId, info.displayName, password_->text());

  auto* lobby = new UserDialog(info.displayName, LocalConfig::instance()->serverIP(), info.userId,
                               info.oneLoginServer);
  lobby_ = lobby;
  connect(lobby, &UserDialog::signal_jidiao, this, &LoginDialog::slot_jidiao);
  lobby->show();
  hide();
  status_->clear();
  status_->hide();
  info.loggedInElsewhere = false;
}

void LoginDialog::slot_ButtonRegister() {
  openInBrowser(this, HttpRequest::serviceUrl(ServiceApi::kPageRegister));
}

void LoginDialog::slot_ButtonShortMessage() {
  openInBrowser(this, HttpRequest::serviceUrl(ServiceApi::kPageShortMessageLogin));
}

void LoginDialog::slot_jidiao() {
  showStatus(QStringLiteral("您的账号已在其他地方登陆！"));
}
