#include "Domain.h"
#include "Routes.h"
#include "Schema.h"

namespace tavsvc {

namespace {
using tavsrv::code::kNotFound;

json announcementJson(tavsrv::Statement& st) {
  return json{{"id", st.int64(0)},
              {"roomId", st.int64(1)},
              {"title", st.text(2)},
              {"announcementInfo", st.text(3)},
              {"createTime", tavsrv::formatLocalTime(st.int64(4))}};
}

// Room announcements, newest first; a bare array (the latest only with limit 1).
json announcements(Call& call, int limit) {
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  call.requireMember(roomId);
  json list = json::array();
  auto st = call.db().prepare(
      "SELECT id, room_id, title, content, created_ms FROM announcements WHERE room_id = ?1 "
      "ORDER BY id DESC LIMIT ?2");
  st.bind(roomId, limit);
  while (st.step())
    list.push_back(announcementJson(st));
  return list;
}

json insertAnnouncement(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const std::string content = call.form.text("announcement", 200, 0);
  const std::string title = call.form.text("title", 20);
  call.checkForm();
  const uint32_t actor = call.requireRoomManager(roomId, true);
  call.db().run(
      "INSERT INTO announcements(room_id, title, content, author_id, created_ms) "
      "VALUES(?1, ?2, ?3, ?4, ?5)",
      roomId, title, content, actor, call.now());
  return tavsrv::ok(json{{"id", call.db().lastInsertId()}});
}

json deleteAnnouncement(Call& call) {
  const uint32_t id = call.form.id("id");
  call.checkForm();
  const auto roomId = call.db().queryInt("SELECT room_id FROM announcements WHERE id = ?1", id);
  if (!roomId)
    throw Refusal(kNotFound, "公告不存在！");
  call.requireRoomManager(static_cast<uint32_t>(*roomId), true);
  call.db().run("DELETE FROM announcements WHERE id = ?1", id);
  return tavsrv::ok();
}

json bulletins(Call& call) {
  call.checkForm();
  json list = json::array();
  auto st = call.db().prepare(
      "SELECT id, title, content, created_ms FROM bulletins ORDER BY id DESC LIMIT 50");
  while (st.step()) {
    list.push_back(json{{"id", st.int64(0)},
                        {"bulletinTitle", st.text(1)},
                        {"bulletinContent", st.text(2)},
                        {"createTime", tavsrv::formatLocalTime(st.int64(3))}});
  }
  return tavsrv::ok(list);
}

json notifications(Call& call) {
  const uint32_t userId = call.form.id("globalId");
  const int64_t rows = call.form.integer("rows", 1, 100);
  const int64_t page = call.form.integer("page", 1, 1000000);
  call.checkForm();
  call.requireSelf(userId);
  auto& db = call.db();
  const int64_t total =
      db.queryInt("SELECT COUNT(*) FROM notifications WHERE user_id = ?1", userId).value_or(0);
  const int64_t unread =
      db.queryInt("SELECT COUNT(*) FROM notifications WHERE user_id = ?1 AND is_read = 0", userId)
          .value_or(0);
  json list = json::array();
  auto st = db.prepare(
      "SELECT id, title, content, is_read, created_ms FROM notifications WHERE user_id = ?1 "
      "ORDER BY id DESC LIMIT ?2 OFFSET ?3");
  st.bind(userId, rows, (page - 1) * rows);
  while (st.step()) {
    list.push_back(json{{"id", st.int64(0)},
                        {"title", st.text(1)},
                        {"content", st.text(2)},
                        {"isRead", st.int64(3) != 0},
                        {"createTime", tavsrv::formatLocalTime(st.int64(4))}});
  }
  return tavsrv::ok(json{{"total", total},
                         {"unread", unread},
                         {"totalPages", (total + rows - 1) / rows},
                         {"rows", list}});
}

// Who booked the class, page by page (pages count from 1).
json appointments(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const int64_t rows = call.form.integer("rows", 1, 100);
  const int64_t page = call.form.integer("page", 1, 1000000);
  call.checkForm();
  requireRoom(call.db(), roomId);
  auto& db = call.db();
  const int64_t total =
      db.queryInt("SELECT COUNT(*) FROM appointments WHERE room_id = ?1", roomId).value_or(0);
  json list = json::array();
  auto st = db.prepare(
      "SELECT u.id, u.nick_name, u.phone, u.image_path, a.created_ms FROM appointments a "
      "JOIN users u ON u.id = a.user_id WHERE a.room_id = ?1 ORDER BY a.created_ms, u.id "
      "LIMIT ?2 OFFSET ?3");
  st.bind(roomId, rows, (page - 1) * rows);
  while (st.step()) {
    std::string image = st.text(3);
    if (!image.empty() && image[0] != '/')
      image = "/" + image;  // shown via "uds/upload%2"
    list.push_back(json{{"globalId", st.int64(0)},
                        {"nickName", st.text(1).empty() ? st.text(2) : st.text(1)},
                        {"imagePath", image},
                        {"createTime", tavsrv::formatLocalTime(st.int64(4))}});
  }
  return tavsrv::ok(json{
      {"total", total}, {"totalPages", (total + rows - 1) / rows}, {"page", page}, {"rows", list}});
}

// Other open classes to recommend in a classroom.
json recommend(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const uint32_t userId = call.form.id("userId");
  call.checkForm();
  json list = json::array();
  auto st = call.db().prepare(
      "SELECT r.id FROM rooms r WHERE r.status = 1 AND r.id <> ?1 AND r.owner_id <> ?2 "
      "AND r.open_style = 1 ORDER BY r.id LIMIT 6");
  st.bind(roomId, userId);
  std::vector<uint32_t> ids;
  while (st.step())
    ids.push_back(static_cast<uint32_t>(st.int64(0)));
  for (uint32_t id : ids) {
    const auto room = loadRoom(call.db(), id);
    const auto owner = room ? loadUser(call.db(), room->ownerId) : std::nullopt;
    if (!room || !owner)
      continue;
    json card = roomJson(*room, false);
    card["nickName"] = owner->displayName();
    // Recommendation pictures are fetched with "uds/upload/%2".
    card["imagePath"] = room->posterPath.empty() || room->posterPath[0] != '/'
                            ? room->posterPath
                            : room->posterPath.substr(1);
    list.push_back(std::move(card));
  }
  return tavsrv::ok(list);
}
}  // namespace

void addNoticeRoutes(Router& router) {
  router.post("rms/service/room/findRoomAnnouncementByRoomIdTop",
              [](Call& call) { return announcements(call, 1); });
  router.post("rms/service/room/findRoomAnnouncementByRoomId",
              [](Call& call) { return announcements(call, 200); });
  router.post("rms/service/room/insertAnnouncement", insertAnnouncement);
  router.post("rms/service/room/deleteAnnouncement", deleteAnnouncement);
  router.post("cds/service/bulletinInfo/getBulletinInfoPage", bulletins);
  router.post("cds/service/notificationInfo/findNotificationInfoPage", notifications);
  router.post("rms/service/appoint/selectAppointCourseInfoPageById", appointments);
  router.post("cds/service/recommend/recommend", recommend);
}

}  // namespace tavsvc
