// What the whiteboard canvas reaches on the phone: the right to draw comes
// from the PC's rights code, and what the canvas sends goes to the PC, which
// puts its own member's id on it and passes it to the class.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <atomic>

#include "VWClassroomLink.h"

class PhoneCanvasLink : public QObject, public vw::VWClassroomLink {
  Q_OBJECT
public:
  explicit PhoneCanvasLink(vw::VWSharedPictureDisplay* display, QObject* parent = nullptr);

  // The PC's rights code: the phone draws with 2 and 3 only.
  void setRights(int code) { allowed_ = code == 2 || code == 3; }

  vw::VWSharedPictureDisplay* sharedPictureDisplay() override { return display_; }
  bool ownsAnnotation() const override { return allowed_; }
  // Called by the canvas's send thread: the message reaches the link's
  // thread through a queued signal, in the order it was sent.
  int sendRoomJson(const QJsonObject& msg, const QString& target) override;
  // forwardToPhone stays the base's no-op: everything the canvas sends also
  // passes sendRoomJson, and this is the phone.

signals:
  void boardMessage(const QJsonObject& msg);

private:
  vw::VWSharedPictureDisplay* const display_;
  std::atomic<bool> allowed_{false};
};
