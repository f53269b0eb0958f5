// What the whiteboard reaches of the classroom that created it.
#pragma once

#include <QJsonObject>
#include <QString>

namespace vw {

class VWSharedPictureDisplay;

class VWClassroomLink {
public:
  virtual ~VWClassroomLink() = default;
  // The display of shared pictures and pages; null when the classroom has none.
  // It lives as long as the classroom.
  virtual VWSharedPictureDisplay* sharedPictureDisplay() = 0;

  // The own member's user id; 0 where there is no classroom.
  virtual quint32 ownUserId() const { return 0; }
  // Whether the own member holds the board-writing right now: only then does
  // mouse input on the canvas draw and travel to the others.
  virtual bool ownsAnnotation() const { return false; }
  // A board message on the media server's peer path: target "*" for everybody
  // or a decimal user id. Negative when dropped (not connected, no library).
  // Called from the canvas's send thread as well as the GUI thread.
  virtual int sendRoomJson(const QJsonObject& msg, const QString& target) {
    Q_UNUSED(msg);
    Q_UNUSED(target);
    return -1;
  }
  // The same message to the linked phone; nothing while no phone is linked.
  // GUI thread.
  virtual void forwardToPhone(const QJsonObject& msg) { Q_UNUSED(msg); }
  // A question with OK and Cancel; true when OK was chosen (no classroom: yes).
  virtual bool confirm(const QString& text) {
    Q_UNUSED(text);
    return true;
  }
  // A member's display name as the member list has it; empty when unknown.
  virtual QString displayName(quint32 userId) const {
    Q_UNUSED(userId);
    return QString();
  }
};

}  // namespace vw
