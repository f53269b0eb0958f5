#include "Domain.h"
#include "Routes.h"
#include "Schema.h"
#include "tavsrv/Removals.h"

namespace tavsvc {

namespace {
using tavsrv::code::kFailed;
using tavsrv::code::kForbidden;

constexpr int kMaxAssistants = 2;

struct BlackRequest {
  uint32_t target;
  uint32_t roomId;
  int type;
};

BlackRequest readBlackRequest(Call& call) {
  BlackRequest r;
  r.target = call.form.id("globalId");
  r.roomId = call.form.id("roomId");
  r.type = static_cast<int>(call.form.integer("type", 1, 2));
  // The client names the room's owner as the operator; the actual operator is
  // the caller, checked below, so the value is only validated.
  call.form.id("optionUser");
  call.checkForm();
  return r;
}

// Mute (type 1) or remove (type 2, with a 15-minute ban on entering again).
json addRoomBlack(Call& call) {
  const BlackRequest r = readBlackRequest(call);
  const uint32_t actor = call.requireRoomManager(r.roomId, true);
  auto& db = call.db();
  const RoomRow room = requireRoom(db, r.roomId);
  requireUser(db, r.target);
  if (r.target == room.ownerId)
    throw Refusal(kForbidden, "不能对老师进行此操作！");
  if (r.target == actor)
    throw Refusal(kFailed, "不可以对自己进行此操作！");
  if (actor != room.ownerId && isAssistant(db, r.roomId, r.target))
    throw Refusal(kForbidden, kNoRight);
  const int64_t until = r.type == kBlackRemove ? call.now() + kRemovalBanMs : 0;  // 0: until lifted
  // A removal and the removal list's new version go in together.
  tavsrv::Transaction tx(db);
  db.run(
      "INSERT INTO room_blacklist(room_id, user_id, type, operator_id, created_ms, until_ms) "
      "VALUES(?1, ?2, ?3, ?4, ?5, NULLIF(CAST(?6 AS BIGINT), 0)) ON CONFLICT(room_id, user_id, "
      "type) DO UPDATE SET "
      "operator_id = excluded.operator_id, created_ms = excluded.created_ms, until_ms = "
      "excluded.until_ms",
      r.roomId, r.target, r.type, actor, call.now(), until);
  if (r.type == kBlackRemove) {
    call.ctx.presence.leave(db, r.roomId, r.target);
    call.ctx.removals.changed(db);
  }
  tx.commit();
  if (r.type == kBlackRemove)
    call.ctx.removals.wake();  // the message server and the MCU cut the member off now
  return tavsrv::ok();
}

// Restore a muted member (type 1) or lift a removal ban early (type 2).
json removeRoomBlack(Call& call) {
  const BlackRequest r = readBlackRequest(call);
  const uint32_t actor = call.requireRoomManager(r.roomId, true);
  auto& db = call.db();
  const RoomRow room = requireRoom(db, r.roomId);
  if (actor != room.ownerId && isAssistant(db, r.roomId, r.target))
    throw Refusal(kForbidden, kNoRight);
  // Chat the message server received before this is still judged as the member's then.
  call.ctx.removals.lift(db, r.roomId, r.target, r.type);
  return tavsrv::ok();
}

// The active removals (internal), for the message server and the MCU, which
// cut a removed member off and keep it out while the ban lasts. A question
// naming the version it holds waits (up to waitMs) until the list changes.
// Every answer is the complete list: {"version", "removals":[{"roomId",
// "userId", "leftMs"}]}. Bans last 15 minutes, so the list stays short; it is
// cut at kMaxListedRemovals.
constexpr int kMaxListedRemovals = 10000;

json listRemovals(Call& call) {
  call.requireInternalToken();  // before waiting: nobody else holds a thread here
  const std::string known = call.form.optionalText("version", 64).value_or("");
  const int64_t waitMs =
      call.form.optionalInteger("waitMs", 0, tavsrv::kRemovalsMaxWaitMs).value_or(0);
  call.checkForm();
  if (waitMs > 0 && known == call.ctx.removals.version(call.db())) {
    call.releaseDb();  // a connection only while it looks again
    call.ctx.removals.waitWhile(*call.ctx.pool, known, waitMs);
  }
  // Read before the list: a change in between is answered by the next question.
  const std::string version = call.ctx.removals.version(call.db());
  const int64_t now = call.now();
  auto st = call.db().prepare(
      "SELECT room_id, user_id, until_ms FROM room_blacklist WHERE type = ?1 AND until_ms > ?2 "
      "ORDER BY until_ms DESC LIMIT ?3");
  st.bind(static_cast<int>(kBlackRemove), now, kMaxListedRemovals);
  json removals = json::array();
  while (st.step())
    removals.push_back(
        json{{"roomId", st.int64(0)}, {"userId", st.int64(1)}, {"leftMs", st.int64(2) - now}});
  return tavsrv::ok(json{{"version", version}, {"removals", std::move(removals)}});
}

// The room's assistants; a bare array. Their phone numbers (which also work as
// login names) only for the room's owner.
json findManageById(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  const RoomRow room = requireRoom(call.db(), roomId);
  call.requireMember(roomId);
  const bool owner = call.caller().canActAs(room.ownerId);
  json list = json::array();
  auto st = call.db().prepare(
      "SELECT u.id, u.nick_name, u.phone, u.image_path FROM room_assistants a "
      "JOIN users u ON u.id = a.user_id WHERE a.room_id = ?1 ORDER BY a.created_ms, u.id");
  st.bind(roomId);
  while (st.step()) {
    const std::string phone = owner ? st.text(2) : maskedPhone(st.text(2));
    json assistant = json::object();
    assistant["globalId"] = st.int64(0);
    assistant["nickName"] = st.text(1).empty() ? phone : st.text(1);
    assistant["phone"] = owner ? phone : std::string();
    assistant["imagePath"] = st.text(3);
    assistant["roomId"] = roomId;
    list.push_back(std::move(assistant));
  }
  return list;
}

json addManage(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const uint32_t target = call.form.id("globalId");
  const uint32_t creator = call.form.id("createGlobalId");
  call.checkForm();
  call.requireSelf(creator);
  auto& db = call.db();
  const RoomRow room = requireRoom(db, roomId);
  if (room.ownerId != creator)
    throw Refusal(kForbidden, kNoRight);
  const UserRow user = requireUser(db, target);
  if (target == room.ownerId)
    throw Refusal(kFailed, "不能将老师设为助教！");
  tavsrv::Transaction tx(db);
  if (isAssistant(db, roomId, target))
    throw Refusal(kFailed, "该用户已经是助教了！");
  if (db.queryInt("SELECT COUNT(*) FROM room_assistants WHERE room_id = ?1", roomId).value_or(0) >=
      kMaxAssistants)
    throw Refusal(kFailed, "每个教室最多设置两名助教！");
  if (storedRole(db, room, target) == 0)
    db.run("INSERT INTO room_members(room_id, user_id, role, joined_ms) VALUES(?1, ?2, ?3, ?4)",
           roomId, target, static_cast<int>(kRoleStudent), call.now());
  db.run(
      "INSERT INTO room_assistants(room_id, user_id, created_by, created_ms) VALUES(?1, ?2, ?3, "
      "?4)",
      roomId, target, creator, call.now());
  tx.commit();
  return tavsrv::ok(json{{"globalId", user.id}, {"nickName", user.displayName()}});
}

json removeManagePC(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const uint32_t target = call.form.id("globalId");
  call.checkForm();
  call.requireRoomManager(roomId, false);
  call.db().run("DELETE FROM room_assistants WHERE room_id = ?1 AND user_id = ?2", roomId, target);
  if (call.db().changes() == 0)
    throw Refusal(kFailed, "该用户不是助教！");
  return tavsrv::ok();
}
}  // namespace

void addModerationRoutes(Router& router) {
  router.post("rms/service/room/addRoomBlack", addRoomBlack);
  router.post("rms/service/room/removeRoomBlack", removeRoomBlack);
  router.post("rms/service/manage/findManageById", findManageById);
  router.post("rms/service/manage/addManage", addManage);
  router.post("rms/service/manage/removeManagePC", removeManagePC);
  router.post("internal/room/removals", listRemovals);
}

}  // namespace tavsvc
