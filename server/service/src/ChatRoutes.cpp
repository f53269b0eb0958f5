#include "Domain.h"
#include "Routes.h"
#include "Schema.h"
#include "roomwire/room_message.h"
#include "tavsrv/ChatHandoff.h"
#include "tavsrv/Form.h"

namespace tavsvc {

namespace {
using tavsrv::code::kBadRequest;
using tavsrv::code::kForbidden;

bool isDay(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-')
    return false;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9')
      return false;
  return true;
}

// Stored chat messages of a room, newest first, page by page (pages count from 1).
// For the room's own people only.
json getChatRecord(Call& call) {
  const uint32_t roomId = call.form.id("chatRoomId");
  const int64_t page = call.form.integer("page", 0, 1000000);
  const int64_t rows = call.form.integer("rows", 1, 100);
  const std::optional<uint32_t> userId = call.form.optionalId("userId");
  const std::optional<std::string> day = call.form.optionalText("date", 10);
  call.checkForm();
  if (day && !day->empty() && !isDay(*day))
    throw Refusal(kBadRequest, "参数格式错误：date");
  call.requireMember(roomId);
  const bool byUser = userId.has_value();
  const bool byDay = day && !day->empty();
  auto st = call.db().prepare(
      "SELECT id, message FROM chat_records WHERE room_id = ?1 "
      "AND (?2 = 0 OR user_id = ?3) AND (?4 = 0 OR day = ?5) "
      "ORDER BY id DESC LIMIT ?6 OFFSET ?7");
  st.bind(roomId, byUser ? 1 : 0, byUser ? static_cast<int64_t>(*userId) : 0, byDay ? 1 : 0,
          byDay ? *day : std::string(), rows + 1, (page > 0 ? page - 1 : 0) * rows);
  json result = json::array();
  bool hasNext = false;
  while (st.step()) {
    if (static_cast<int64_t>(result.size()) == rows) {
      hasNext = true;
      break;
    }
    json record = json::parse(st.text(1), nullptr, false);
    if (!record.is_object())
      record = json::object();
    record["id"] = st.int64(0);
    result.push_back(std::move(record));
  }
  return json{{"code", 0},
              {"msg", ""},
              {"result", result},
              {"hasNext", hasNext},
              {"body", {{"page", page}, {"rows", rows}}}};
}

// Who may chat in a room: its members, unless muted, removed or auditing.
// Refused with 403, and the message server then relays nothing. A member taken
// off the blacklist after `version` (the one the message server held when it
// received the chat) is judged as still on it: the chat may have come before.
// The store is read first, so a lift in between is seen by the feed.
// Answers the member's role in the room.
int requireMayChat(Call& call, uint32_t roomId, uint32_t userId, const std::string& version) {
  auto& db = call.db();
  const RoomRow room = requireRoom(db, roomId);
  const int role = storedRole(db, room, userId);
  if (role == 0)
    throw Refusal(kForbidden, "您不是本教室的成员！");
  if (role == kRoleAuditor)
    throw Refusal(kForbidden, "旁听不能发言！");
  const bool muted = isMuted(db, roomId, userId);
  const bool banned = banLeftMs(db, roomId, userId, call.now()) > 0;
  const RemovalFeed& feed = call.ctx.removals;
  if (muted || feed.liftedSince(db, version, roomId, userId, kBlackMute))
    throw Refusal(kForbidden, "您已被禁言！");
  if (banned || feed.liftedSince(db, version, roomId, userId, kBlackRemove))
    throw Refusal(kForbidden, "您已被老师请出教室！");
  return role;
}

// The message server hands over every chat message before relaying it
// (internal); it relays only what is stored here, and relays it as stored: the
// answer carries the stored text.
json addChatRecord(Call& call) {
  call.requireInternalToken();
  const uint32_t roomId = call.form.id("chatRoomId");
  const uint32_t userId = call.form.id("userId");
  const int64_t typeId = call.form.integer("typeId", 0, 20);
  // The message server sends the text as content64 (tavsrv/ChatHandoff.h), so
  // that any chat it lets through fits the form; content is the plain field.
  const bool encoded = call.form.has("content64");
  const std::string field = encoded ? call.form.text("content64", tavsrv::kMaxChatEncoded)
                                    : call.form.text("content", tavsrv::kMaxChatBytes);
  const std::string version = call.form.optionalText("version", 64).value_or("");
  call.checkForm();
  std::optional<std::string> decoded;
  if (encoded) {
    decoded = tavsrv::decodeChatText(field);
    if (!decoded || decoded->empty() || !tavsrv::isValidUtf8(*decoded) ||
        decoded->find('\0') != std::string::npos)
      throw Refusal(kBadRequest, "参数格式错误：content64");
  }
  const std::string& content = encoded ? *decoded : field;
  if (!roomwire::is_chat_type(typeId))
    throw Refusal(kBadRequest, "参数超出范围：typeId");
  const int role = requireMayChat(call, roomId, userId, version);
  json message = json::parse(content, nullptr, false);
  if (!message.is_object())
    message = json{{roomwire::kContent, content}};
  // The record answers with the keys of a room chat message. Who sent it and
  // where is what the message server vouches for, whatever the text says; the
  // sender's name, picture and role (the client's colour) are this store's,
  // so nobody chats under the teacher's name.
  message[roomwire::kTypeId] = std::to_string(typeId);
  message[roomwire::kSendUserId] = userId;
  message[roomwire::kRoomId] = std::to_string(roomId);
  message[roomwire::kSendUserRole] = std::to_string(role);
  if (!message.contains(roomwire::kMsgSendTime))
    message[roomwire::kMsgSendTime] = tavsrv::formatLocalTime(call.now());
  const auto user = loadUser(call.db(), userId);
  message[roomwire::kSendUsername] = user ? user->displayName() : std::string();
  message[roomwire::kSendUserImg] = user ? user->imagePath : std::string();
  const std::string stored = tavsrv::dumpJson(message);
  call.db().run(
      "INSERT INTO chat_records(room_id, user_id, type_id, message, day, created_ms) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
      roomId, userId, typeId, stored, tavsrv::formatLocalTime(call.now(), "%Y-%m-%d"), call.now());
  return tavsrv::ok(json{{"id", call.db().lastInsertId()}, {"message", stored}});
}

// Usage reports: chat, hands, tag, tool, gift (with a count), each by the
// member itself about a room it belongs to, within its budget.
json addHistory(Call& call) {
  const std::string type = call.form.text("type", 10);
  const uint32_t roomId = call.form.id("roomId");
  const uint32_t userId = call.form.id("globalId");
  const int64_t count = call.form.optionalInteger("count", 1, 10000).value_or(1);
  call.checkForm();
  if (type != "chat" && type != "hands" && type != "tag" && type != "tool" && type != "gift")
    throw Refusal(kBadRequest, "参数超出范围：type");
  call.requireSelf(userId);
  call.requireMember(roomId);
  if (!call.ctx.reportBudget.take(call.db(), userId, call.now()))
    throw Refusal(tavsrv::code::kFailed, "上报过于频繁，请稍后再试！");
  call.db().run(
      "INSERT INTO usage_reports(type, room_id, user_id, count, created_ms) VALUES(?1, ?2, ?3, ?4, "
      "?5)",
      type, roomId, userId, count, call.now());
  return tavsrv::ok();
}
}  // namespace

void addChatRoutes(Router& router) {
  router.post("cs/service/chatRecord/getChatRecord", getChatRecord);
  router.post("internal/chatRecord/add", addChatRecord);
  router.post("report/service/roomReport/addHistory", addHistory);
}

}  // namespace tavsvc
