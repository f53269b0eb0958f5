// One member of the room as the service lists it, with the group the member
// list shows it in.
#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

struct RoomMember {
  enum Group {
    kTeacherGroup,
    kInspectorGroup,
    kAssistantGroup,
    kStudentGroup,
    kParentGroup,
    kAuditorGroup,
    kOtherGroup
  };

  quint32 userId = 0;
  QString nickName;
  QString roleText;
  int roleCode = 5;  // RoomContext::Role
  bool isAssistant = false;
  QString level;
  QString medals;
  bool muted = false;  // "sendFlag" 0
  bool handUp = false;
  QString imagePath;
  // Media state (from the media library).
  bool hasCamera = true;
  bool hasMicrophone = true;
  bool videoOn = false;
  bool audioOn = false;

  Group group() const;

  // The member described by one element of "onlineUser" or the body of a
  // member lookup; empty when it carries no usable user id.
  static std::optional<RoomMember> fromJson(const QJsonObject& object);
};
