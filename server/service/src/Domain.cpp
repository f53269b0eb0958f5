#include "Domain.h"

#include "Schema.h"
#include "tavsrv/Form.h"

namespace tavsvc {

std::optional<UserRow> loadUser(tavsrv::Connection& db, uint32_t id) {
  auto st = db.prepare(
      "SELECT id, user_name, nick_name, phone, role_name, image_path, level, balance_cents, "
      "org_id, linked_user_id FROM users WHERE id = ?1");
  st.bind(id);
  if (!st.step())
    return std::nullopt;
  UserRow u;
  u.id = static_cast<uint32_t>(st.int64(0));
  u.userName = st.text(1);
  u.nickName = st.text(2);
  u.phone = st.text(3);
  u.roleName = st.text(4);
  u.imagePath = st.text(5);
  u.level = static_cast<int>(st.int64(6));
  u.balanceCents = st.int64(7);
  if (!st.isNull(8))
    u.orgId = static_cast<uint32_t>(st.int64(8));
  if (!st.isNull(9))
    u.linkedUserId = static_cast<uint32_t>(st.int64(9));
  return u;
}

UserRow requireUser(tavsrv::Connection& db, uint32_t id) {
  auto user = loadUser(db, id);
  if (!user)
    throw Refusal(tavsrv::code::kNotFound, "用户不存在！");
  return *user;
}

namespace {

#define TAV_ROOM_COLUMNS                                                                \
  "SELECT id, owner_id, room_name, synopsis, tag, usable_numbers, status, open_style, " \
  "auth_code, plan_start, plan_end, poster_path FROM rooms "

RoomRow roomFrom(const tavsrv::Statement& st) {
  RoomRow r;
  r.id = static_cast<uint32_t>(st.int64(0));
  r.ownerId = static_cast<uint32_t>(st.int64(1));
  r.name = st.text(2);
  r.synopsis = st.text(3);
  r.tag = st.text(4);
  r.usableNumbers = static_cast<int>(st.int64(5));
  r.status = static_cast<int>(st.int64(6));
  r.openStyle = static_cast<int>(st.int64(7));
  r.authCode = st.text(8);
  r.planStart = st.text(9);
  r.planEnd = st.text(10);
  r.posterPath = st.text(11);
  return r;
}

}  // namespace

std::optional<RoomRow> loadRoom(tavsrv::Connection& db, uint32_t id) {
  auto st = db.prepare(TAV_ROOM_COLUMNS "WHERE id = ?1");
  st.bind(id);
  if (!st.step())
    return std::nullopt;
  return roomFrom(st);
}

std::vector<RoomRow> loadOwnedRooms(tavsrv::Connection& db, uint32_t ownerId) {
  auto st = db.prepare(TAV_ROOM_COLUMNS "WHERE owner_id = ?1 ORDER BY id");
  st.bind(ownerId);
  std::vector<RoomRow> rooms;
  while (st.step())
    rooms.push_back(roomFrom(st));
  return rooms;
}
#undef TAV_ROOM_COLUMNS

RoomRow requireRoom(tavsrv::Connection& db, uint32_t id) {
  auto room = loadRoom(db, id);
  if (!room)
    throw Refusal(tavsrv::code::kNotFound, "教室不存在！");
  return *room;
}

bool belongsToRoom(tavsrv::Connection& db, uint32_t roomId, uint32_t userId) {
  return db
      .queryInt(
          "SELECT 1 FROM rooms WHERE id = ?1 AND owner_id = ?2 "
          "UNION ALL SELECT 1 FROM room_members WHERE room_id = ?1 AND user_id = ?2 "
          "UNION ALL SELECT 1 FROM room_assistants WHERE room_id = ?1 AND user_id = ?2 LIMIT 1",
          roomId, userId)
      .has_value();
}

bool isAssistant(tavsrv::Connection& db, uint32_t roomId, uint32_t userId) {
  return db
      .queryInt("SELECT 1 FROM room_assistants WHERE room_id = ?1 AND user_id = ?2", roomId, userId)
      .has_value();
}

int storedRole(tavsrv::Connection& db, const RoomRow& room, uint32_t userId) {
  if (userId == room.ownerId)
    return kRoleTeacher;
  return static_cast<int>(
      db.queryInt("SELECT role FROM room_members WHERE room_id = ?1 AND user_id = ?2", room.id,
                  userId)
          .value_or(0));
}

int entryRole(tavsrv::Connection& db, const RoomRow& room, const UserRow& user) {
  const int stored = storedRole(db, room, user.id);
  if (stored != 0)
    return stored;
  return user.roleName == "巡管" ? kRoleInspector : kRoleAuditor;
}

bool isMuted(tavsrv::Connection& db, uint32_t roomId, uint32_t userId) {
  return db
      .queryInt("SELECT 1 FROM room_blacklist WHERE room_id = ?1 AND user_id = ?2 AND type = 1",
                roomId, userId)
      .has_value();
}

int64_t banLeftMs(tavsrv::Connection& db, uint32_t roomId, uint32_t userId, int64_t nowMs) {
  const auto until = db.queryInt(
      "SELECT until_ms FROM room_blacklist WHERE room_id = ?1 AND user_id = ?2 AND type = 2",
      roomId, userId);
  if (!until || *until <= nowMs)
    return 0;
  return *until - nowMs;
}

json roomJson(const RoomRow& room, bool withSecrets) {
  // Filled key by key: a braced list of pairs costs several copies of each value.
  json card = json::object();
  card["id"] = room.id;
  card["globalId"] = room.ownerId;
  card["roomName"] = room.name;
  card["roomSynopsis"] = room.synopsis;
  card["tag"] = room.tag;
  card["usableNumbers"] = room.usableNumbers;
  card["status"] = room.status;
  card["openStyle"] = std::to_string(room.openStyle);
  card["planStartDate"] = room.planStart;
  card["planEndDate"] = room.planEnd;
  card["imagePath"] = room.posterPath;
  // The access code is the owner's to see; others get it only at room entry.
  card["authCode"] = withSecrets ? room.authCode : std::string();
  return card;
}

json memberJson(tavsrv::Connection& db, const RoomRow& room, const UserRow& user) {
  // One statement for the member's standing in the room (lists ask this for
  // every member present).
  auto st = db.prepare(
      "SELECT (SELECT role FROM room_members WHERE room_id = ?1 AND user_id = ?2), "
      "EXISTS(SELECT 1 FROM room_assistants WHERE room_id = ?1 AND user_id = ?2), "
      "EXISTS(SELECT 1 FROM room_blacklist WHERE room_id = ?1 AND user_id = ?2 AND type = 1), "
      "(SELECT m.name FROM user_medals um JOIN medals m ON m.id = um.medal_id "
      "WHERE um.room_id = ?1 AND um.user_id = ?2 ORDER BY um.id DESC LIMIT 1)");
  st.bind(room.id, user.id);
  st.step();
  int role = user.id == room.ownerId ? kRoleTeacher : static_cast<int>(st.int64(0));
  if (role == 0)
    role = user.roleName == "巡管" ? kRoleInspector : kRoleAuditor;
  const bool assistant = role != kRoleTeacher && st.int64(1) != 0;
  const bool muted = st.int64(2) != 0;
  json member = json::object();
  member["globalId"] = user.id;
  member["nickName"] = user.displayName();
  member["role"] = roomRoleText(role);
  member["roleCode"] = role;
  member["isAssistant"] = assistant;
  member["level"] = user.level;
  member["medals"] = st.isNull(3) ? std::string() : st.text(3);
  member["sendFlag"] = muted ? 0 : 1;
  member["isMuted"] = muted;
  member["imagePath"] = user.imagePath;
  return member;
}

bool isSafeDisplayText(const std::string& text, size_t maxChars) {
  if (text.empty() || !tavsrv::isValidUtf8(text) || tavsrv::utf8Length(text) > maxChars)
    return false;
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c == '{' || c == '}')
      return false;
  return true;
}

}  // namespace tavsvc
