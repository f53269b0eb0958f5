#include "LoginRenewal.h"

#include "AccountStore.h"
#include "FormBody.h"
#include "LoginInfo.h"
#include "ServiceCalls.h"

namespace {

constexpr int kNotLoggedIn = 401;
const char kLoginGone[] = "登录已失效，请重新登录！";

int codeOf(const QJsonObject& answer) {
  return answer.value(QLatin1String("code")).toVariant().toInt();
}

}  // namespace

void LoginRenewal::renew() {
  if (busy_)
    return;
  busy_ = true;
  const LoginInfo& info = LoginInfo::current();
  ServiceCalls().post(ServiceApi::kChatCredential,
                      FormBody(ServiceApi::kChatCredential.body).arg(info.userId), this,
                      [this](QJsonObject answer) { onCredential(answer); });
}

void LoginRenewal::onCredential(const QJsonObject& answer) {
  if (answer.isEmpty()) {
    finish();
    emit unreachable();
    return;
  }
  const QString credential = answer.value(QLatin1String("chat_credential")).toString();
  if (codeOf(answer) == 0 && !credential.isEmpty()) {
    LoginInfo::current().oneLoginCredential = credential;
    keepServer(answer);
    finish();
    emit renewed();
    return;
  }
  if (codeOf(answer) == kNotLoggedIn) {
    signInAgain();
    return;
  }
  finish();
  emit signInNeeded(QString::fromUtf8(kLoginGone));
}

void LoginRenewal::signInAgain() {
  const LoginInfo& info = LoginInfo::current();
  for (const AccountRecord& record : AccountStore::readAccounts()) {
    if (record.userId != info.userIdText || record.password.isEmpty())
      continue;
    // The ticket is gone; the one that signs in now is sent with nothing stale.
    LoginInfo::current().ticket.clear();
    ServiceCalls().post(ServiceApi::kLogin,
                        FormBody(ServiceApi::kLogin.body).arg(record.userName).arg(record.password),
                        this, [this](QJsonObject answer) { onLogin(answer); });
    return;
  }
  finish();
  emit signInNeeded(QString::fromUtf8(kLoginGone));
}

void LoginRenewal::onLogin(const QJsonObject& answer) {
  finish();
  if (answer.isEmpty()) {
    emit unreachable();
    return;
  }
  const QJsonObject body = answer.value(QLatin1String("body")).toObject();
  const QString ticket = body.value(QLatin1String("ticketId")).toString();
  const QString credential = answer.value(QLatin1String("chat_credential")).toString();
  const quint32 userId = body.value(QLatin1String("globalId")).toVariant().toUInt();
  LoginInfo& info = LoginInfo::current();
  // Only the same account continues this lobby (the remembered name may now be another's).
  if (codeOf(answer) != 0 || ticket.isEmpty() || credential.isEmpty() || userId != info.userId) {
    emit signInNeeded(QString::fromUtf8(kLoginGone));
    return;
  }
  info.ticket = ticket;
  info.oneLoginCredential = credential;
  keepServer(answer);
  emit renewed();
}

void LoginRenewal::keepServer(const QJsonObject& answer) {
  // The one-login channel's message server may be another node now.
  const QString server = answer.value(QLatin1String("chat_server")).toString();
  if (!server.isEmpty())
    LoginInfo::current().oneLoginServer = server;
}

void LoginRenewal::finish() {
  busy_ = false;
}
