// The client's service calls made synchronously, for tests and benchmarks that
// drive the client against a real service (the caller links the client shell).
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include "FormBody.h"
#include "HttpRequest.h"
#include "ServiceApi.h"
#include "TestSupport.h"

namespace testsupport {

// The call's JSON answer once it came (empty when none came in time).
inline QJsonObject postAndWait(const ServiceEndpoint& endpoint, const QString& body) {
  QJsonObject answer;
  bool done = false;
  auto* request = new HttpRequest;
  QObject::connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed),
                   [&](QJsonObject a) {
                     answer = a;
                     done = true;
                   });
  request->request(HttpRequest::serviceUrl(endpoint.path), body, HttpRequest::kJson);
  waitUntil([&] { return done; });
  return answer;
}

// A demo account signed in (password 123456); id 0 when the login failed.
struct DemoLogin {
  quint32 id = 0;
  QString ticket;
  QString name;
};

inline DemoLogin loginAs(const QString& account) {
  const QJsonObject answer =
      postAndWait(ServiceApi::kLogin, FormBody(ServiceApi::kLogin.body).arg(account).arg("123456"));
  // The user object comes as a JSON string inside the answer.
  const QJsonValue body = answer.value("body");
  const QJsonObject user = body.isString()
                               ? QJsonDocument::fromJson(body.toString().toUtf8()).object()
                               : body.toObject();
  return {user.value("globalId").toVariant().toUInt(), user.value("ticketId").toString(),
          user.value("nickName").toString()};
}

}  // namespace testsupport
