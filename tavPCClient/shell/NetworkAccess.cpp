#include "NetworkAccess.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QThread>
#include <QThreadStorage>

namespace NetworkAccess {

QNetworkAccessManager& manager() {
  static QThreadStorage<QPointer<QNetworkAccessManager>> perThread;
  QPointer<QNetworkAccessManager>& mine = perThread.localData();
  if (!mine) {
    QCoreApplication* app = QCoreApplication::instance();
    QThread* thread = QThread::currentThread();
    if (app && app->thread() == thread) {
      mine = new QNetworkAccessManager(app);
    } else {
      auto* made = new QNetworkAccessManager;
      mine = made;
      // finished is emitted by the ending thread itself, the manager's own.
      QObject::connect(
          thread, &QThread::finished, made, [made] { delete made; }, Qt::DirectConnection);
    }
  }
  return *mine;
}

}  // namespace NetworkAccess
