#include "Domain.h"
#include "Placement.h"
#include "Routes.h"
#include "Schema.h"
#include "tavsrv/Credential.h"
#include "tavsrv/Random.h"

namespace tavsvc {

namespace {
using tavsrv::code::kBadRequest;
using tavsrv::code::kFailed;
using tavsrv::code::kForbidden;

// A private room's code missing or wrong at entry; the client asks for it then.
constexpr int kAuthCodeRefused = 423;

// Private rooms: everybody but the owner's side (owner and assistants) enters
// with the room's code, which the service judges; it never goes out. Wrong
// codes are limited per user and room (the login's five per five minutes), so
// a short code is not found by trying.
void checkAuthCode(Call& call, const RoomRow& room, uint32_t userId,
                   const std::optional<std::string>& code) {
  const std::string key = std::to_string(room.id) + "/" + std::to_string(userId);
  auto& throttle = call.ctx.codeThrottle;
  if (throttle.blocked(call.db(), "", key, call.now()))
    throw Refusal(kFailed, "授权码错误次数过多，请稍后再试！");
  if (!code || code->empty())
    throw Refusal(kAuthCodeRefused, "私密教室，需要授权码才能进入");
  if (room.authCode.empty() || !tavsrv::equalSecrets(*code, room.authCode)) {
    throttle.failed(call.db(), "", key, call.now());
    throw Refusal(kAuthCodeRefused, "授权码错误！");
  }
  throttle.succeeded(call.db(), "", key);
}

// The lobby asks for this on every visit: its answer is written as text.
std::string findRoomByGlobalId(Call& call) {
  const uint32_t userId = call.form.id("globalId");
  call.checkForm();
  ReadTransaction reads(call.db());
  const bool own = call.caller().canActAs(userId);
  std::string text = "{\"body\":[";
  text.reserve(4096);
  bool first = true;
  forEachOwnedRoom(call.db(), userId, call.now() - Presence::kTimeoutMs,
                   [&](const RoomCard& card, bool inClass) {
                     if (!first)
                       text += ',';
                     first = false;
                     if (!appendRoomCardText(text, card, own, inClass)) {
                       json tree = roomJson(rowOf(card), own);
                       tree["inClass"] = inClass;
                       text += tavsrv::dumpJson(tree);
                     }
                   });
  text += "],\"code\":0,\"msg\":\"\"}";
  return text;
}

json findMyJoinRoom(Call& call) {
  const uint32_t userId = call.form.id("globalId");
  call.checkForm();
  json rooms = json::array();
  auto st = call.db().prepare(
      "SELECT m.room_id, u.nick_name, u.phone FROM room_members m "
      "JOIN rooms r ON r.id = m.room_id JOIN users u ON u.id = r.owner_id "
      "WHERE m.user_id = ?1 AND r.owner_id <> ?1 ORDER BY m.joined_ms, m.room_id");
  st.bind(userId);
  while (st.step()) {
    const auto room = loadRoom(call.db(), static_cast<uint32_t>(st.int64(0)));
    if (!room)
      continue;
    json card = roomJson(*room, false);
    card["roomId"] = room->id;
    card["nickName"] = st.text(1).empty() ? st.text(2) : st.text(1);
    card["inClass"] = call.ctx.presence.teacherOnDuty(call.db(), room->id, call.now()) != 0;
    rooms.push_back(std::move(card));
  }
  return tavsrv::ok(rooms);
}

json userJoinRoom(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const uint32_t userId = call.form.id("globalId");
  const std::optional<std::string> code = call.form.optionalText("authCode", 32);
  call.checkForm();
  call.requireSelf(userId);
  auto& db = call.db();
  const RoomRow room = requireRoom(db, roomId);
  const UserRow user = requireUser(db, userId);
  const bool owner = room.ownerId == userId;
  const bool assistant = !owner && isAssistant(db, roomId, userId);
  if (!owner) {
    if (room.status == kRoomClosed)
      throw Refusal(kFailed, "该教室已关闭！");
    const int64_t left = banLeftMs(db, roomId, userId, call.now());
    if (left > 0)
      throw Refusal(kForbidden, banMessage(left));
    if (room.openStyle == 2 && !assistant)
      checkAuthCode(call, room, userId, code);
  }
  const int role = entryRole(db, room, user);
  if (!owner && storedRole(db, room, userId) == 0) {
    db.run(
        "INSERT INTO room_members(room_id, user_id, role, joined_ms) VALUES(?1, ?2, ?3, ?4) "
        "ON CONFLICT DO NOTHING",
        roomId, userId, role, call.now());
  }
  call.ctx.presence.enter(db, roomId, userId, call.now());

  const UserRow teacher = requireUser(db, room.ownerId);
  const auto place = [&](NodeKind kind, const std::vector<tavsrv::HostPort>& nodes) {
    return RoomPlacement::place(db, kind, nodes, call.ctx.health, roomId, userId, call.now());
  };
  const tavsrv::HostPort mcu = place(NodeKind::Mcu, call.ctx.config.mcus);
  std::string son = "-1";
  if (user.linkedUserId)
    son = tavsrv::dumpJson(json{{"globalId", *user.linkedUserId}});
  const tavsrv::HostPort files = call.ctx.fileServer();
  // The owner's phone is also a login name: only the owner's side sees it.
  const bool ownerSide = owner || assistant;
  const std::string ownerName = !teacher.nickName.empty() ? teacher.nickName
                                : ownerSide               ? teacher.phone
                                                          : maskedPhone(teacher.phone);
  json answer{{"code", 0},
              {"msg", ""},
              {"id", room.id},
              {"roomName", room.name},
              {"status", room.status},
              {"globalId", room.ownerId},
              {"openStyle", std::to_string(room.openStyle)},
              {"nickNameT", ownerName},
              {"phoneT", ownerSide ? teacher.phone : std::string()},
              {"isAssistant", assistant},
              {"role", roomRoleText(role)},
              {"roleCode", role},
              {"mcu_ip_address", mcu.host},
              {"port", mcu.port},
              {"chat_server", call.ctx.chatServer(room.id).str()},
              {"courseware_file_server", files.str()},
              {"chat_file_server", files.str()},
              {"file_server", files.str()},
              {"video_server", place(NodeKind::Video, call.ctx.config.videoServers).str()},
              {"document_server", place(NodeKind::Convert, call.ctx.config.convertServers).str()},
              {"level_detailed", "LV" + std::to_string(user.level)},
              {"son", son},
              // Shown to the message server (room channel) and the MCU.
              // An assistant's says so: the MCU gives the teacher's rights to the teacher side.
              {"room_credential",
               issueCredential(
                   call.ctx, userId, roomId,
                   !owner && isAssistant(db, roomId, userId) ? tavsrv::kAssistantRoleCode : role)}};
  answer["body"] = roomJson(room, false);
  return answer;
}

json openRoom(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const uint32_t userId = call.form.id("globalId");
  call.checkForm();
  call.requireSelf(userId);
  const RoomRow room = requireRoom(call.db(), roomId);
  if (room.ownerId != userId && !isAssistant(call.db(), roomId, userId))
    throw Refusal(kForbidden, kNoRight);
  call.refuseRemoved(roomId);
  call.db().run("INSERT INTO room_sessions(room_id, opened_by, opened_ms) VALUES(?1, ?2, ?3)",
                roomId, userId, call.now());
  call.ctx.presence.heartbeat(call.db(), roomId, userId, call.now(), true);
  return tavsrv::ok(json{{"sessionId", call.db().lastInsertId()}});
}

// Presence report, every 30 s from every member. Both types keep the member
// present; type 1 also marks the member as teaching (the client's two heartbeats).
json heartbeat(Call& call) {
  const uint32_t userId = call.form.id("globalId");
  const uint32_t roomId = call.form.id("roomId");
  const int64_t type = call.form.integer("type", 1, 2);
  call.checkForm();
  call.requireSelf(userId);
  if (!call.ctx.presence.heartbeat(call.db(), roomId, userId, call.now(), type == 1))
    throw Refusal(tavsrv::code::kNotPresent, "您已不在教室中！");
  return tavsrv::ok();
}

// The classroom asks for this every 30 s: its answer is written as text.
std::string findRoomOnlineUser(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  ReadTransaction reads(call.db());
  call.requireMember(roomId);
  const RoomRow room = requireRoom(call.db(), roomId);
  return "{\"code\":0,\"msg\":\"\",\"onlineUser\":" +
         presentMembersText(call.db(), room, call.now() - Presence::kTimeoutMs) + "}";
}

json findRoomUserTypeById(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const uint32_t userId = call.form.id("globalId");
  call.checkForm();
  const RoomRow room = requireRoom(call.db(), roomId);
  call.requireMember(roomId);
  const UserRow user = requireUser(call.db(), userId);
  return json{
      {"code", 0}, {"msg", ""}, {"body", tavsrv::embedObject(memberJson(call.db(), room, user))}};
}

// Users who joined the room, for the chat filter. The answer is a bare array.
json selectJoinRoomByRoomId(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  call.form.optionalText("flag", 10);
  const int64_t page = call.form.optionalInteger("page", 0, 1000000).value_or(0);
  call.checkForm();
  call.requireMember(roomId);
  constexpr int kPageSize = 500;
  json users = json::array();
  auto st = call.db().prepare(
      "SELECT u.id, u.nick_name, u.phone, m.role FROM room_members m JOIN users u ON u.id = "
      "m.user_id "
      "WHERE m.room_id = ?1 ORDER BY m.joined_ms, u.id LIMIT ?2 OFFSET ?3");
  st.bind(roomId, kPageSize, (page > 0 ? page - 1 : 0) * kPageSize);
  while (st.step()) {
    const std::string name = st.text(1).empty() ? st.text(2) : st.text(1);
    users.push_back(json{{"globalId", st.int64(0)},
                         {"nickName", name},
                         {"role", roomRoleText(static_cast<int>(st.int64(3)))}});
  }
  return users;
}

json updateRoom(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const int64_t openStyle = call.form.integer("openStyle", 1, 2);
  std::string authCode;
  if (openStyle == 2)
    authCode = call.form.text("authCode", 6);
  call.checkForm();
  if (openStyle == 2 && !isSafeDisplayText(authCode, 6))
    throw Refusal(kBadRequest, "授权码不合要求！");
  call.requireRoomManager(roomId, false);
  call.db().run("UPDATE rooms SET open_style = ?1, auth_code = ?2 WHERE id = ?3", openStyle,
                authCode, roomId);
  return tavsrv::ok();
}
// Following a room (roomAssociated).
json addRoomAssociated(Call& call) {
  const uint32_t userId = call.form.id("globalId");
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  call.requireSelf(userId);
  requireRoom(call.db(), roomId);
  call.db().run(
      "INSERT INTO follows(user_id, room_id, created_ms) VALUES(?1, ?2, ?3) ON CONFLICT DO NOTHING",
      userId, roomId, call.now());
  return tavsrv::ok(json{{"followed", true}});
}

json deleteRoomAssociated(Call& call) {
  const uint32_t userId = call.form.id("globalId");
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  call.requireSelf(userId);
  requireRoom(call.db(), roomId);
  call.db().run("DELETE FROM follows WHERE user_id = ?1 AND room_id = ?2", userId, roomId);
  return tavsrv::ok(json{{"followed", false}});
}

json selectRoomAssociatedByIds(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const uint32_t userId = call.form.id("globalId");
  call.checkForm();
  requireRoom(call.db(), roomId);
  const bool followed =
      call.db()
          .queryInt("SELECT 1 FROM follows WHERE user_id = ?1 AND room_id = ?2", userId, roomId)
          .has_value();
  return tavsrv::ok(json{{"followed", followed}, {"roomId", roomId}, {"globalId", userId}});
}
}  // namespace

void addRoomRoutes(Router& router) {
  router.post("rms/service/roomAssociated/addRoomAssociated", addRoomAssociated);
  router.post("rms/service/roomAssociated/deleteRoomAssociated", deleteRoomAssociated);
  router.post("rms/service/roomAssociated/selectRoomAssociatedByIds", selectRoomAssociatedByIds);
  router.postText("rms/service/room/findRoomByGlobalId", findRoomByGlobalId);
  router.post("rms/service/room/findMyJoinRoom", findMyJoinRoom);
  router.post("rms/service/room/userJoinRoom", userJoinRoom);
  router.post("rms/service/room/openRoom", openRoom);
  router.post("rms/service/room/heartbeat", heartbeat);
  router.postText("rms/service/room/findRoomOnlineUser", findRoomOnlineUser, /*embedded=*/true);
  router.post("rms/service/room/findRoomUserTypeById", findRoomUserTypeById, /*embedded=*/true);
  router.post("rms/service/room/selectJoinRoomByRoomId", selectJoinRoomByRoomId);
  router.post("rms/service/room/updateRoom", updateRoom);
}

}  // namespace tavsvc
