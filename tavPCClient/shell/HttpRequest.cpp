#include "HttpRequest.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <atomic>

#include "LocalConfig.h"
#include "LoginInfo.h"
#include "NetworkAccess.h"

namespace {
std::atomic<int> pendingRequests{0};

// Qt only accepts an object or an array at the top; a lone number, string,
// boolean or null is still JSON.
bool isJsonScalar(const QByteArray& data) {
  QJsonParseError error;
  const QJsonDocument wrapped = QJsonDocument::fromJson("[" + data + "]", &error);
  return error.error == QJsonParseError::NoError && wrapped.array().size() == 1 &&
         !wrapped.array().at(0).isObject() && !wrapped.array().at(0).isArray();
}
}  // namespace

HttpRequest::HttpRequest() : QObject(nullptr) {}

HttpRequest::~HttpRequest() {
  if (pending_)
    --pendingRequests;
}

int HttpRequest::pendingCount() {
  return pendingRequests.load();
}

QString HttpRequest::serviceUrl(const QString& path) {
  return QStringLiteral("http://%1/%2").arg(LocalConfig::instance()->serverIP(), path);
}

void HttpRequest::request(const QString& url, const QString& body, int kind, void* userData) {
  QNetworkRequest req{QUrl(url)};
  req.setHeader(QNetworkRequest::ContentTypeHeader,
                QStringLiteral("application/x-www-form-urlencoded"));
  // Names the signed-in user to the service, which checks its rights by it.
  const QString& ticket = LoginInfo::current().ticket;
  if (!ticket.isEmpty())
    req.setRawHeader("X-Tav-Ticket", ticket.toUtf8());
  kind_ = kind;
  userData_ = userData;
  body_ = body;

  QNetworkReply* reply = nullptr;
  QNetworkAccessManager& manager = NetworkAccess::manager();
  if (kind == kJson)
    reply = manager.post(req, body_.toUtf8());
  else if (kind == kImage || kind == kBytes)
    reply = manager.get(req);
  if (!reply) {
    // Nothing was sent and nothing will answer: do not linger.
    deleteLater();
    return;
  }
  pending_ = true;
  ++pendingRequests;
  connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinshed(reply); });
  if (kind == kBytes) {
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this, reply](qint64 received, qint64 total) {
              if (received > maxBytes_ || total > maxBytes_) {
                reply->abort();
                return;
              }
              emit downloadProgress(received, total);
            });
  }
  if (timeoutMs_ > 0) {
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    // An aborted reply finishes with an error: the caller gets one empty answer.
    connect(timer_, &QTimer::timeout, reply, &QNetworkReply::abort);
    timer_->start(timeoutMs_);
  }
}

QByteArray HttpRequest::unnest(QByteArray body) {
  body.replace("\\\"", "\"");
  body.replace("\"{", "{");
  body.replace("}\"", "}");
  return body;
}

void HttpRequest::emitJson(const QJsonObject& object) {
  if (userData_)
    emit requestFinshed(object, userData_);
  else
    emit requestFinshed(object);
}

void HttpRequest::emitJson(const QJsonArray& array) {
  if (userData_)
    emit requestFinshed(array, userData_);
  else
    emit requestFinshed(array);
}

void HttpRequest::emitImage(const QPixmap& pixmap) {
  if (userData_)
    emit requestFinshed(pixmap, userData_);
  else
    emit requestFinshed(pixmap);
}

void HttpRequest::onFinshed(QNetworkReply* reply) {
  if (timer_)
    timer_->stop();
  reply->deleteLater();
  deleteLater();

  if (reply->error() != QNetworkReply::NoError) {
    qDebug() << " - HttpRequest::onFinshed:reply->error():" << reply->error();
    if (kind_ == kBytes) {
      qDebug("found error ....code: %d %d\n",
             reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
             static_cast<int>(reply->error()));
      qDebug() << reply->errorString();
      emit requestFinshed(QByteArray());
    } else if (kind_ == kImage)
      emitImage(QPixmap());
    else
      emitJson(QJsonObject());
    return;
  }

  QByteArray data = reply->readAll();
  if (kind_ == kBytes) {
    emit requestFinshed(data);
    return;
  }
  const QString url = reply->url().toString();
  if (url.contains(QLatin1String("room/findRoomOnlineUser")) ||
      url.contains(QLatin1String("room/findRoomUserTypeById")) ||
      url.contains(QLatin1String("user/login")))
    data = unnest(data);

  if (kind_ == kImage) {
    QPixmap pixmap;
    pixmap.loadFromData(data);
    if (pixmap.isNull())
      qDebug() << " - HttpRequest::onFinshed:pixmap.isNull()";
    emitImage(pixmap);
    return;
  }

  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
  if (error.error != QJsonParseError::NoError && isJsonScalar(data)) {
    // Valid JSON, but neither object nor array: no caller can use it.
    qDebug() << " - HttpRequest::onFinshed:unknown format";
  } else if (error.error != QJsonParseError::NoError) {
    qDebug() << " - HttpRequest::onFinshed:json_error.error:" << error.error;
    emitJson(QJsonObject());
  } else if (doc.isObject()) {
    if (doc.object().isEmpty())
      qDebug() << " - HttpRequest::onFinshed:obj.isEmpty()";
    emitJson(doc.object());
  } else if (doc.isArray()) {
    if (doc.array().isEmpty())
      qDebug() << " - HttpRequest::onFinshed:arr.isEmpty()";
    emitJson(doc.array());
  } else {
    qDebug() << " - HttpRequest::onFinshed:unknown format";
  }
}
