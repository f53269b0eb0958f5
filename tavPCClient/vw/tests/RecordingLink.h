// A classroom for the canvas alone: it records what the canvas sends (from
// the send thread too) and what goes to the phone.
#pragma once

#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QPixmap>
#include <QVector>
#include <atomic>

#include "VWClassroomLink.h"
#include "VWSharedPictureDisplay.h"

struct RecordingLink : vw::VWClassroomLink, vw::VWSharedPictureDisplay {
  struct Sent {
    QJsonObject msg;
    QString target;
  };
  quint32 id = 7;
  std::atomic<bool> annotating{true};
  std::atomic<bool> connected{true};
  QPixmap picture;
  QVector<QJsonObject> phone;

  vw::VWSharedPictureDisplay* sharedPictureDisplay() override { return this; }
  QPixmap shownPixmap() const override { return picture; }
  quint32 ownUserId() const override { return id; }
  bool ownsAnnotation() const override { return annotating; }
  int sendRoomJson(const QJsonObject& msg, const QString& target) override {
    if (!connected)
      return -1;
    QMutexLocker lock(&mutex_);
    sent_.append({msg, target});
    return 0;
  }
  void forwardToPhone(const QJsonObject& msg) override { phone.append(msg); }
  QString displayName(quint32 userId) const override {
    return QStringLiteral("成员%1").arg(userId);
  }

  QVector<Sent> sent() const {
    QMutexLocker lock(&mutex_);
    return sent_;
  }
  int sentCount() const {
    QMutexLocker lock(&mutex_);
    return sent_.size();
  }

private:
  mutable QMutex mutex_;
  QVector<Sent> sent_;
};
