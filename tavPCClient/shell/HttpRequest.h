// One call to the service: a form-encoded POST answered with JSON (kind 0) or
// a GET answered with an image (kind 1). Create it with new, connect the one
// requestFinshed overload you want, call request(); the object emits exactly
// one answer (an empty one on a network error or time-out) and deletes itself.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPixmap>
#include <QString>

class QNetworkReply;
class QTimer;

class HttpRequest : public QObject {
  Q_OBJECT

public:
  enum Kind { kJson = 0, kImage = 1 };
  static constexpr int kDefaultTimeoutMs = 15000;

  HttpRequest();
  ~HttpRequest() override;

  // "http://<serverIP>/" + path, with serverIP from the local settings.
  static QString serviceUrl(const QString& path);

  // Milliseconds to wait for the answer before reporting a network error;
  // 0 waits forever. Set before request().
  void setTimeout(int ms) { timeoutMs_ = ms; }

  // Sends the request. Other kinds send nothing (and the object goes away).
  void request(const QString& url, const QString& body, int kind, void* userData = nullptr);

  // Requests sent and not yet answered, in the whole process.
  static int pendingCount();

  // The textual un-nesting of answers that embed objects as JSON strings.
  static QByteArray unnest(QByteArray body);

signals:
  // Declaration order is part of the interface; the void* overloads are used
  // when user data was given, the others when it was null.
  void requestFinshed(QJsonArray);
  void requestFinshed(QJsonArray, void*);
  void requestFinshed(QJsonObject);
  void requestFinshed(QJsonObject, void*);
  void requestFinshed(QPixmap);
  void requestFinshed(QPixmap, void*);

private slots:
  void onFinshed(QNetworkReply* reply);

private:
  void emitJson(const QJsonObject& object);
  void emitJson(const QJsonArray& array);
  void emitImage(const QPixmap& pixmap);

  QNetworkAccessManager manager_;
  int kind_ = kJson;
  void* userData_ = nullptr;
  QString body_;
  int timeoutMs_ = kDefaultTimeoutMs;
  QTimer* timer_ = nullptr;
  bool pending_ = false;
};
