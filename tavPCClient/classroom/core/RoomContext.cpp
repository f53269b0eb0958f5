#include "RoomContext.h"

void RoomContext::resetTeaching() {
  annotatingId = -1;
  annoState = 0;
  screenSharerId = -1;
  pictureSharerId = -1;
  toolHolderId = -1;
  sharedWindow = 0;
  shareType = 0;
}

int RoomContext::roleCode(const QString& roleText) {
  if (roleText == QStringLiteral("老师"))
    return kTeacher;
  if (roleText == QStringLiteral("学生"))
    return kStudent;
  if (roleText == QStringLiteral("家长"))
    return kParent;
  if (roleText == QStringLiteral("旁听"))
    return kAuditor;
  return kOther;
}

QString RoomContext::roleText(int code) {
  switch (code) {
    case kTeacher:
      return QStringLiteral("老师");
    case kStudent:
      return QStringLiteral("学生");
    case kParent:
      return QStringLiteral("家长");
    case kAuditor:
      return QStringLiteral("旁听");
    default:
      return QStringLiteral("其他");
  }
}

int RoomContext::mediaRole(int code) {
  switch (code) {
    case kTeacher:
      return 0;
    case kStudent:
      return 1;
    case kParent:
      return 2;
    default:
      return 3;
  }
}

RoomContext& RoomContext::current() {
  static RoomContext context;
  return context;
}

RoomContext& RoomContext::reset(quint32 roomId) {
  RoomContext& context = current();
  context = RoomContext();
  context.roomId = roomId;
  return context;
}
