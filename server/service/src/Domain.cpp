#include "Domain.h"

#include <cstdio>

#include "Schema.h"
#include "tavsrv/Form.h"
#include "tavsrv/JsonText.h"

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

// A room's columns in the order cardFrom reads them.
#define TAV_ROOM_COLUMNS                                                             \
  "id, owner_id, room_name, synopsis, tag, usable_numbers, status, open_style, " \
  "auth_code, plan_start, plan_end, poster_path"
constexpr int kRoomColumns = 12;

RoomCard cardFrom(const tavsrv::Statement& st) {
  RoomCard card;
  card.id = static_cast<uint32_t>(st.int64(0));
  card.ownerId = static_cast<uint32_t>(st.int64(1));
  card.name = st.textView(2);
  card.synopsis = st.textView(3);
  card.tag = st.textView(4);
  card.usableNumbers = static_cast<int>(st.int64(5));
  card.status = static_cast<int>(st.int64(6));
  card.openStyle = static_cast<int>(st.int64(7));
  card.authCode = st.textView(8);
  card.planStart = st.textView(9);
  card.planEnd = st.textView(10);
  card.posterPath = st.textView(11);
  return card;
}

}  // namespace

std::optional<RoomRow> loadRoom(tavsrv::Connection& db, uint32_t id) {
  auto st = db.prepare("SELECT " TAV_ROOM_COLUMNS " FROM rooms WHERE id = ?1");
  st.bind(id);
  if (!st.step())
    return std::nullopt;
  return rowOf(cardFrom(st));
}

void forEachOwnedRoom(tavsrv::Connection& db, uint32_t ownerId, int64_t teachingSinceMs,
                      const std::function<void(const RoomCard& card, bool inClass)>& visit) {
  auto st = db.prepare("SELECT " TAV_ROOM_COLUMNS
                       ", CASE WHEN EXISTS(SELECT 1 FROM presence p WHERE p.room_id = rooms.id "
                       "AND p.teaching_ms >= ?2) THEN 1 ELSE 0 END "
                       "FROM rooms WHERE owner_id = ?1 ORDER BY id");
  st.bind(ownerId, teachingSinceMs);
  while (st.step())
    visit(cardFrom(st), st.int64(kRoomColumns) != 0);
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

std::string banMessage(int64_t leftMs) {
  const int64_t minutes = (leftMs + 59999) / 60000;
  return "您已被老师请出教室，请" + std::to_string(minutes) + "分钟后再进入！";
}

Standing standingIn(tavsrv::Connection& db, uint32_t roomId, uint32_t userId, int64_t nowMs) {
  auto st = db.prepare(
      "SELECT EXISTS(SELECT 1 FROM rooms WHERE id = ?1 AND owner_id = ?2 "
      "UNION ALL SELECT 1 FROM room_members WHERE room_id = ?1 AND user_id = ?2 "
      "UNION ALL SELECT 1 FROM room_assistants WHERE room_id = ?1 AND user_id = ?2), "
      "(SELECT until_ms FROM room_blacklist WHERE room_id = ?1 AND user_id = ?2 AND type = 2), "
      "EXISTS(SELECT 1 FROM rooms WHERE id = ?1)");
  st.bind(roomId, userId);
  Standing standing;
  if (!st.step())
    return standing;
  standing.belongs = st.int64(0) != 0;
  standing.roomExists = st.int64(2) != 0;
  if (!st.isNull(1) && st.int64(1) > nowMs)
    standing.banLeftMs = st.int64(1) - nowMs;
  return standing;
}

std::string maskedPhone(const std::string& phone) {
  if (phone.size() < 7)
    return phone.empty() ? phone : "****";
  return phone.substr(0, 3) + "****" + phone.substr(phone.size() - 4);
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

namespace {

// The member object from the user and its standing in the room.
json memberFrom(const RoomRow& room, uint32_t userId, const std::string& displayName,
                const std::string& siteRole, const std::string& imagePath, int level,
                int storedRole, bool assistant, bool muted, const std::string& medal) {
  int role = userId == room.ownerId ? kRoleTeacher : storedRole;
  if (role == 0)
    role = siteRole == "巡管" ? kRoleInspector : kRoleAuditor;
  json member = json::object();
  member["globalId"] = userId;
  member["nickName"] = displayName;
  member["role"] = roomRoleText(role);
  member["roleCode"] = role;
  member["isAssistant"] = role != kRoleTeacher && assistant;
  member["level"] = level;
  member["medals"] = medal;
  member["sendFlag"] = muted ? 0 : 1;
  member["isMuted"] = muted;
  member["imagePath"] = imagePath;
  return member;
}

// The member's standing in room ?1, for user u (the query's own alias).
#define TAV_STANDING_COLUMNS                                                              \
  "(SELECT role FROM room_members WHERE room_id = ?1 AND user_id = u.id), "               \
  "EXISTS(SELECT 1 FROM room_assistants WHERE room_id = ?1 AND user_id = u.id), "         \
  "EXISTS(SELECT 1 FROM room_blacklist WHERE room_id = ?1 AND user_id = u.id AND type = " \
  "1), "                                                                                  \
  "(SELECT m.name FROM user_medals um JOIN medals m ON m.id = um.medal_id "               \
  "WHERE um.room_id = ?1 AND um.user_id = u.id ORDER BY um.id DESC LIMIT 1) "

}  // namespace

RoomCard cardOf(const RoomRow& room) {
  RoomCard card;
  card.id = room.id;
  card.ownerId = room.ownerId;
  card.usableNumbers = room.usableNumbers;
  card.status = room.status;
  card.openStyle = room.openStyle;
  card.name = room.name;
  card.synopsis = room.synopsis;
  card.tag = room.tag;
  card.authCode = room.authCode;
  card.planStart = room.planStart;
  card.planEnd = room.planEnd;
  card.posterPath = room.posterPath;
  return card;
}

RoomRow rowOf(const RoomCard& card) {
  RoomRow room;
  room.id = card.id;
  room.ownerId = card.ownerId;
  room.usableNumbers = card.usableNumbers;
  room.status = card.status;
  room.openStyle = card.openStyle;
  room.name = std::string(card.name);
  room.synopsis = std::string(card.synopsis);
  room.tag = std::string(card.tag);
  room.authCode = std::string(card.authCode);
  room.planStart = std::string(card.planStart);
  room.planEnd = std::string(card.planEnd);
  room.posterPath = std::string(card.posterPath);
  return room;
}

namespace {

void appendNumber(std::string& out, int64_t value) {
  char digits[24];
  const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
  out.append(digits, static_cast<size_t>(n));
}

}  // namespace

bool appendRoomCardText(std::string& out, const RoomCard& room, bool withSecrets, bool inClass) {
  const std::string_view authCode = withSecrets ? room.authCode : std::string_view();
  for (std::string_view text : {authCode, room.posterPath, room.planEnd, room.planStart, room.name,
                                room.synopsis, room.tag})
    if (!tavsrv::isValidUtf8(text))
      return false;
  // Keys in the order the tree's dump writes them (sorted).
  out += "{\"authCode\":";
  tavsrv::appendJsonString(out, authCode);
  out += ",\"globalId\":";
  appendNumber(out, room.ownerId);
  out += ",\"id\":";
  appendNumber(out, room.id);
  out += ",\"imagePath\":";
  tavsrv::appendJsonString(out, room.posterPath);
  out += inClass ? ",\"inClass\":true" : ",\"inClass\":false";
  out += ",\"openStyle\":\"";
  appendNumber(out, room.openStyle);
  out += "\",\"planEndDate\":";
  tavsrv::appendJsonString(out, room.planEnd);
  out += ",\"planStartDate\":";
  tavsrv::appendJsonString(out, room.planStart);
  out += ",\"roomName\":";
  tavsrv::appendJsonString(out, room.name);
  out += ",\"roomSynopsis\":";
  tavsrv::appendJsonString(out, room.synopsis);
  out += ",\"status\":";
  appendNumber(out, room.status);
  out += ",\"tag\":";
  tavsrv::appendJsonString(out, room.tag);
  out += ",\"usableNumbers\":";
  appendNumber(out, room.usableNumbers);
  out += '}';
  return true;
}

json memberJson(tavsrv::Connection& db, const RoomRow& room, const UserRow& user) {
  auto st = db.prepare("SELECT " TAV_STANDING_COLUMNS "FROM users u WHERE u.id = ?2");
  st.bind(room.id, user.id);
  if (!st.step())
    return memberFrom(room, user.id, user.displayName(), user.roleName, user.imagePath, user.level,
                      0, false, false, "");
  return memberFrom(room, user.id, user.displayName(), user.roleName, user.imagePath, user.level,
                    static_cast<int>(st.int64(0)), st.int64(1) != 0, st.int64(2) != 0,
                    st.isNull(3) ? std::string() : st.text(3));
}

namespace {

// embedSafeText(text), appended: the look-alikes of the client's un-nesting
// characters, a blank for control characters. What comes out needs no JSON
// escaping, so it goes into the embedded string's text as it is.
void appendEmbedSafe(std::string& out, const std::string& text) {
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\xEF\xBC\x82";
        break;
      case '\\':
        out += "\xEF\xBC\xBC";
        break;
      case '{':
        out += "\xEF\xBD\x9B";
        break;
      case '}':
        out += "\xEF\xBD\x9D";
        break;
      default:
        out += c < 0x20 || c == 0x7F ? ' ' : ch;
    }
  }
}

}  // namespace

std::string presentMembersText(tavsrv::Connection& db, const RoomRow& room, int64_t seenSinceMs) {
  // The present members in one statement, in order of entry.
  auto st = db.prepare(
      "SELECT u.id, CASE WHEN u.nick_name = '' THEN u.phone ELSE u.nick_name END, u.role_name, "
      "u.image_path, u.level, m.role, a.user_id IS NOT NULL, b.user_id IS NOT NULL, "
      "(SELECT md.name FROM user_medals um JOIN medals md ON md.id = um.medal_id "
      "WHERE um.room_id = ?1 AND um.user_id = u.id ORDER BY um.id DESC LIMIT 1) "
      "FROM presence p JOIN users u ON u.id = p.user_id "
      "LEFT JOIN room_members m ON m.room_id = ?1 AND m.user_id = u.id "
      "LEFT JOIN room_assistants a ON a.room_id = ?1 AND a.user_id = u.id "
      "LEFT JOIN room_blacklist b ON b.room_id = ?1 AND b.user_id = u.id AND b.type = 1 "
      "WHERE p.room_id = ?1 AND p.last_seen_ms >= ?2 ORDER BY p.entered_ms, p.user_id");
  st.bind(room.id, seenSinceMs);
  std::string out = "[";
  while (st.step()) {
    const auto id = static_cast<uint32_t>(st.int64(0));
    const std::string name = st.text(1), siteRole = st.text(2), image = st.text(3);
    const int level = static_cast<int>(st.int64(4));
    const int stored = st.isNull(5) ? 0 : static_cast<int>(st.int64(5));
    const bool assistant = st.int64(6) != 0, muted = st.int64(7) != 0;
    const std::string medal = st.isNull(8) ? std::string() : st.text(8);
    if (out.size() > 1)
      out += ',';
    if (!tavsrv::isValidUtf8(name) || !tavsrv::isValidUtf8(image) || !tavsrv::isValidUtf8(medal)) {
      out += tavsrv::dumpJson(tavsrv::embedObject(
          memberFrom(room, id, name, siteRole, image, level, stored, assistant, muted, medal)));
      continue;
    }
    int role = id == room.ownerId ? kRoleTeacher : stored;
    if (role == 0)
      role = siteRole == "巡管" ? kRoleInspector : kRoleAuditor;
    // The member object as the text of a JSON string, written once: keys in the
    // order the tree's dump writes them (sorted), its quotes escaped.
    out += "\"{\\\"globalId\\\":";
    out += std::to_string(id);
    out += ",\\\"imagePath\\\":\\\"";
    appendEmbedSafe(out, image);
    out += role != kRoleTeacher && assistant ? "\\\",\\\"isAssistant\\\":true"
                                             : "\\\",\\\"isAssistant\\\":false";
    out += muted ? ",\\\"isMuted\\\":true" : ",\\\"isMuted\\\":false";
    out += ",\\\"level\\\":";
    out += std::to_string(level);
    out += ",\\\"medals\\\":\\\"";
    appendEmbedSafe(out, medal);
    out += "\\\",\\\"nickName\\\":\\\"";
    appendEmbedSafe(out, name);
    out += "\\\",\\\"role\\\":\\\"";
    out += roomRoleText(role);
    out += "\\\",\\\"roleCode\\\":";
    out += std::to_string(role);
    out += muted ? ",\\\"sendFlag\\\":0}\"" : ",\\\"sendFlag\\\":1}\"";
  }
  return out + "]";
}
#undef TAV_STANDING_COLUMNS

bool isSafeDisplayText(const std::string& text, size_t maxChars) {
  if (text.empty() || !tavsrv::isValidUtf8(text) || tavsrv::utf8Length(text) > maxChars)
    return false;
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c == '{' || c == '}')
      return false;
  return true;
}

}  // namespace tavsvc
