#include "RoomMember.h"

#include "RoomContext.h"
#include "RoomMessage.h"

namespace {

QString textOf(const QJsonValue& value) {
  if (value.isString())
    return value.toString();
  if (value.isDouble())
    return QString::number(value.toDouble(), 'g', 15);
  return QString();
}

bool flagOf(const QJsonValue& value) {
  if (value.isBool())
    return value.toBool();
  if (value.isString())
    return value.toString() == QLatin1String("true") || value.toString().toInt() != 0;
  return value.toInt() != 0;
}

}  // namespace

RoomMember::Group RoomMember::group() const {
  if (roleText == QStringLiteral("巡管"))
    return kInspectorGroup;
  switch (roleCode) {
    case RoomContext::kTeacher:
      return kTeacherGroup;
    case RoomContext::kStudent:
      return isAssistant ? kAssistantGroup : kStudentGroup;
    case RoomContext::kParent:
      return isAssistant ? kAssistantGroup : kParentGroup;
    case RoomContext::kAuditor:
      return isAssistant ? kAssistantGroup : kAuditorGroup;
    default:
      return kOtherGroup;
  }
}

std::optional<RoomMember> RoomMember::fromJson(const QJsonObject& object) {
  const std::optional<quint32> id = roommsg::userIdOf(object.value(QLatin1String("globalId")));
  if (!id || *id == 0)
    return std::nullopt;
  RoomMember m;
  m.userId = *id;
  m.nickName = textOf(object.value(QLatin1String("nickName")));
  if (m.nickName.isEmpty())
    m.nickName = QString::number(m.userId);
  m.roleText = textOf(object.value(QLatin1String("role")));
  m.roleCode = RoomContext::roleCode(m.roleText);
  m.isAssistant = flagOf(object.value(QLatin1String("isAssistant")));
  m.level = textOf(object.value(QLatin1String("level")));
  m.medals = textOf(object.value(QLatin1String("medals")));
  const QJsonValue sendFlag = object.value(QLatin1String("sendFlag"));
  m.muted = !sendFlag.isUndefined() && !sendFlag.isNull() && !flagOf(sendFlag);
  m.imagePath = textOf(object.value(QLatin1String("imagePath")));
  return m;
}
