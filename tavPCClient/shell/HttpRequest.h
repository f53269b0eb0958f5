// One call to the service: a form-encoded POST answered with JSON (kind 0), a
// GET answered with an image (kind 1), or a GET whose whole body is delivered
// as bytes with its progress reported (kind 2). Create it with new, connect the one
// requestFinshed overload you want, call request(); the object emits exactly
// one answer (an empty one on a network error or time-out) and deletes itself.
// Requests of one thread share its network access manager (NetworkAccess.h).
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPixmap>
#include <QString>

class QNetworkReply;
class QTimer;

class HttpRequest : public QObject {
  Q_OBJECT

public:
  enum Kind { kJson = 0, kImage = 1, kBytes = 2 };
  static constexpr int kDefaultTimeoutMs = 15000;

  HttpRequest();
  ~HttpRequest() override;

  // "http://<serverIP>/" + path, with serverIP from the local settings.
  static QString serviceUrl(const QString& path);

  // Milliseconds to wait for the answer before reporting a network error;
  // 0 waits forever. Set before request().
  void setTimeout(int ms) { timeoutMs_ = ms; }
  // Kind 2: a body larger than this is cut off and reported as a network
  // error (an empty answer). Set before request().
  void setMaxBytes(qint64 bytes) { maxBytes_ = bytes; }

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
  void requestFinshed(QByteArray);
  // Kind 2: bytes received so far and the total (0 or -1 while unknown).
  void downloadProgress(qint64, qint64);

private slots:
  void onFinshed(QNetworkReply* reply);

private:
  void emitJson(const QJsonObject& object);
  void emitJson(const QJsonArray& array);
  void emitImage(const QPixmap& pixmap);

  int kind_ = kJson;
  void* userData_ = nullptr;
  QString body_;
  int timeoutMs_ = kDefaultTimeoutMs;
  QTimer* timer_ = nullptr;
  bool pending_ = false;
  qint64 maxBytes_ = qint64(1) << 30;
};
