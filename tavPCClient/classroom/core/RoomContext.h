// What every part of the classroom needs to know about the room it runs in:
// one per process, reset when a classroom window is made. GUI thread only.
#pragma once

#include <QString>

struct RoomContext {
  enum Role { kTeacher = 1, kStudent = 2, kParent = 3, kAuditor = 4, kOther = 5 };

  quint32 roomId = 0;
  int ownRole = kOther;
  bool isOwner = false;
  bool isAssistant = false;
  bool classInProgress = false;
  qint64 classStarterId = -1;
  // The holder of the board-writing right (-1 nobody) and the own member's
  // annotation state: 0 idle, 1 request delivered to the teacher, 2 annotation running.
  qint64 annotatingId = -1;
  int annoState = 0;
  qint64 screenSharerId = -1;
  qint64 pictureSharerId = -1;
  qint64 toolHolderId = -1;
  quint64 sharedWindow = 0;
  int shareType = 0;

  // The teacher's rights: the teacher, the owner or an assistant.
  bool hasTeacherRights() const { return ownRole == kTeacher || isOwner || isAssistant; }
  // Sharing and annotation state back to "nobody".
  void resetTeaching();

  // Room role code from its text: "老师" 1, "学生" 2, "家长" 3, "旁听" 4, anything else 5.
  static int roleCode(const QString& roleText);
  // The display text of a role code ("其他" for anything unknown).
  static QString roleText(int code);
  // Media role for the media library: teacher 0, student 1, parent 2, anything else 3.
  static int mediaRole(int code);

  static RoomContext& current();
  // A fresh context for a new classroom.
  static RoomContext& reset(quint32 roomId);
};
