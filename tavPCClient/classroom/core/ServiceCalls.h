// The classroom's calls to the service: form posts answered with a JSON object
// or array, pictures below the service's uploads, and files fetched into a
// local file with their progress. Every answer goes to its receiver in the GUI
// thread, and not at all when the receiver is gone by then. Requests of the
// GUI thread share one network access manager, so connections are reused.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QUrl>
#include <functional>

#include "HttpRequest.h"
#include "ServiceApi.h"

class FileDownload;

class ServiceCalls {
public:
  // The JSON object answer (empty on a network error) to receiver's slot.
  template <typename Receiver, typename Slot>
  void post(const ServiceEndpoint& endpoint, const QString& body, Receiver* receiver,
            Slot slot) const {
    auto* request = new HttpRequest;
    QObject::connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), receiver, slot);
    request->request(HttpRequest::serviceUrl(QString::fromLatin1(endpoint.path)), body,
                     HttpRequest::kJson);
  }

  // A call answered with a JSON array: the array to onArray; anything else
  // (a refusal's object, or the empty object of a network error) to onFailure.
  template <typename Receiver>
  void postForArray(const ServiceEndpoint& endpoint, const QString& body, Receiver* receiver,
                    std::function<void(const QJsonArray&)> onArray,
                    std::function<void(const QJsonObject&)> onFailure) const {
    auto* request = new HttpRequest;
    QObject::connect(request, qOverload<QJsonArray>(&HttpRequest::requestFinshed), receiver,
                     [onArray](QJsonArray rows) { onArray(rows); });
    QObject::connect(request, qOverload<QJsonObject>(&HttpRequest::requestFinshed), receiver,
                     [onFailure](QJsonObject answer) {
                       if (onFailure)
                         onFailure(answer);
                     });
    request->request(HttpRequest::serviceUrl(QString::fromLatin1(endpoint.path)), body,
                     HttpRequest::kJson);
  }

  // A picture the service keeps (an avatar, a gift's icon, a class poster),
  // by its stored path; a null picture when it cannot be had.
  template <typename Receiver, typename Slot>
  void fetchPicture(const QString& storedPath, Receiver* receiver, Slot slot) const {
    auto* request = new HttpRequest;
    QObject::connect(request, qOverload<QPixmap>(&HttpRequest::requestFinshed), receiver, slot);
    request->request(pictureUrl(storedPath), QString(), HttpRequest::kImage);
  }
  // "uds/upload" + path for paths that begin with "/", "uds/upload/" + path otherwise.
  static QString pictureUrl(const QString& storedPath);
  // A page of the service's site, for the browser or a shared link.
  static QString pageUrl(const QString& path) { return HttpRequest::serviceUrl(path); }

  // A fetch of url into localPath (see FileDownload), belonging to parent;
  // connect to it, then start it.
  FileDownload* download(const QUrl& url, const QString& localPath, QObject* parent) const;
};
