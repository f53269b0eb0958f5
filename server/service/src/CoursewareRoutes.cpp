#include "Domain.h"
#include "Routes.h"

namespace tavsvc {

namespace {
using tavsrv::code::kBadRequest;
using tavsrv::code::kFailed;
using tavsrv::code::kNotFound;

struct CoursewareRow {
  uint32_t id = 0, roomId = 0, ownerId = 0;
  std::string name, description, grade, videoPath, ownerName, playInfo;
  int64_t price = 0, playCount = 0, createdMs = 0;
};

constexpr const char* kSelect =
    "SELECT c.id, c.room_id, c.owner_id, c.name, c.description, c.grade, c.video_path, c.price, "
    "c.play_count, c.created_ms, u.nick_name, u.phone, c.play_info FROM coursewares c "
    "JOIN users u ON u.id = c.owner_id ";

CoursewareRow readRow(tavsrv::Statement& st) {
  CoursewareRow c;
  c.id = static_cast<uint32_t>(st.int64(0));
  c.roomId = static_cast<uint32_t>(st.int64(1));
  c.ownerId = static_cast<uint32_t>(st.int64(2));
  c.name = st.text(3);
  c.description = st.text(4);
  c.grade = st.text(5);
  c.videoPath = st.text(6);
  c.price = st.int64(7);
  c.playCount = st.int64(8);
  c.createdMs = st.int64(9);
  c.ownerName = st.text(10).empty() ? st.text(11) : st.text(10);
  c.playInfo = st.text(12);
  return c;
}

std::optional<CoursewareRow> loadCourseware(tavsrv::Connection& db, uint32_t id) {
  auto st = db.prepare(std::string(kSelect) + "WHERE c.id = ?1");
  st.bind(id);
  if (!st.step())
    return std::nullopt;
  return readRow(st);
}

CoursewareRow requireCourseware(tavsrv::Connection& db, uint32_t id) {
  auto c = loadCourseware(db, id);
  if (!c)
    throw Refusal(kNotFound, "课件不存在！");
  return *c;
}

// "filePath" is itself a JSON text listing the renditions of the video: those the video
// server registered, or the one file below uds/upload/.
std::string playInfo(const std::string& baseUrl, const CoursewareRow& c) {
  json renditions = json::array();
  const json stored = json::parse(c.playInfo, nullptr, false);
  if (stored.is_array() && !stored.empty()) {
    for (const json& r : stored)
      renditions.push_back(json{{"Format", "mp4"},
                                {"Definition", r.value("Definition", "")},
                                {"PlayURL", r.value("PlayURL", "")}});
  } else if (const std::string& videoPath = c.videoPath; !videoPath.empty()) {
    renditions.push_back(json{{"Format", "mp4"},
                              {"Definition", "LD"},
                              {"PlayURL", baseUrl + "/uds/upload/" + videoPath}});
  }
  return tavsrv::dumpJson(json{{"PlayInfoList", {{"PlayInfo", renditions}}}});
}

json coursewareJson(Call& call, const CoursewareRow& c, std::optional<uint32_t> viewer) {
  bool bought = false;
  if (viewer) {
    bought =
        *viewer == c.ownerId ||
        call.db()
            .queryInt("SELECT 1 FROM courseware_orders WHERE courseware_id = ?1 AND user_id = ?2",
                      c.id, *viewer)
            .has_value();
  }
  return json{{"id", c.id},
              {"coursewareName", c.name},
              {"description", c.description},
              {"filePath", playInfo(call.baseUrl(), c)},
              {"grade", c.grade},
              {"nickName", c.ownerName},
              {"price", c.price},
              {"roomId", c.roomId},
              {"globalId", c.ownerId},
              {"playCount", c.playCount},
              {"isPurchase", bought},
              {"purchase", bought},
              {"createTime", tavsrv::formatLocalTime(c.createdMs)}};
}

json findCoursewareByRoomId(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const int64_t rows = call.form.integer("rows", 1, 100000);
  const int64_t page = call.form.integer("page", 1, 1000000);
  const std::optional<uint32_t> viewer = call.form.optionalId("globalId");
  call.checkForm();
  call.requireMember(roomId);
  const int64_t total =
      call.db().queryInt("SELECT COUNT(*) FROM coursewares WHERE room_id = ?1", roomId).value_or(0);
  json list = json::array();
  std::vector<CoursewareRow> found;
  {
    auto st = call.db().prepare(std::string(kSelect) +
                                "WHERE c.room_id = ?1 ORDER BY c.id DESC LIMIT ?2 OFFSET ?3");
    st.bind(roomId, rows, (page - 1) * rows);
    while (st.step())
      found.push_back(readRow(st));
  }
  for (const auto& c : found)
    list.push_back(coursewareJson(call, c, viewer));
  const int64_t pages = (total + rows - 1) / rows;
  return json{{"code", 0},      {"msg", ""},           {"rows", list},
              {"total", total}, {"totalPages", pages}, {"page", page}};
}

json findById(Call& call) {
  const uint32_t id = call.form.id("id");
  const std::optional<uint32_t> viewer = call.form.optionalId("globalId");
  call.checkForm();
  const CoursewareRow c = requireCourseware(call.db(), id);
  call.refuseRemoved(c.roomId);
  json record = coursewareJson(call, c, viewer);
  json answer = tavsrv::ok(record);
  // The purchase state is read from the top level as well as from "body".
  for (const char* key : {"isPurchase", "purchase", "price", "coursewareName", "filePath"})
    answer[key] = record[key];
  return answer;
}

// A courseware of that name in the room: found -> code 0 with the record;
// none -> code 404 (the name is free).
json findbyName(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const std::string name = call.form.text("coursewareName", 40);
  call.checkForm();
  auto st =
      call.db().prepare(std::string(kSelect) + "WHERE c.room_id = ?1 AND c.name = ?2 LIMIT 1");
  st.bind(roomId, name);
  if (!st.step())
    throw Refusal(kNotFound, "未找到该课件！");
  const CoursewareRow c = readRow(st);
  return tavsrv::ok(coursewareJson(call, c, std::nullopt));
}

json updateRoomCourseware(Call& call) {
  const uint32_t id = call.form.id("id");
  const std::string name = call.form.text("coursewareName", 20);
  const int64_t price = call.form.integer("price", 0, 1000000);
  const std::string description = call.form.optionalText("description", 50).value_or("");
  call.checkForm();
  if (!isSafeDisplayText(name, 20))
    throw Refusal(kBadRequest, "课件名称不合要求！");
  const CoursewareRow c = requireCourseware(call.db(), id);
  if (!call.caller().canActAs(c.ownerId))
    call.requireRoomManager(c.roomId, true);
  call.db().run("UPDATE coursewares SET name = ?1, price = ?2, description = ?3 WHERE id = ?4",
                name, price, description, id);
  return tavsrv::ok();
}

json deleteCourseware(Call& call) {
  const uint32_t id = call.form.id("id");
  call.checkForm();
  const CoursewareRow c = requireCourseware(call.db(), id);
  if (!call.caller().canActAs(c.ownerId))
    call.requireRoomManager(c.roomId, true);
  call.db().run("DELETE FROM coursewares WHERE id = ?1", id);
  return tavsrv::ok();
}

// Buying a courseware: the buyer pays the price to its uploader, at most once.
json addOrderInfo(Call& call) {
  const uint32_t coursewareId = call.form.id("coursewareId");
  const uint32_t buyer = call.form.id("globalId");
  const int64_t payWay = call.form.optionalInteger("payWay", 1, 9).value_or(1);
  call.checkForm();
  call.requireSelf(buyer);
  auto& db = call.db();
  requireUser(db, buyer);
  tavsrv::Transaction tx(db);
  const CoursewareRow c = requireCourseware(db, coursewareId);
  call.refuseRemoved(c.roomId);
  if (const auto existing =
          db.queryInt("SELECT id FROM courseware_orders WHERE courseware_id = ?1 AND user_id = ?2",
                      coursewareId, buyer)) {
    return tavsrv::ok(json{{"orderId", *existing}, {"alreadyPurchased", true}});
  }
  const int64_t amount = c.price * 100;
  if (amount > 0 && buyer != c.ownerId) {
    db.run(
        "UPDATE users SET balance_cents = balance_cents - ?1 WHERE id = ?2 AND balance_cents >= ?1",
        amount, buyer);
    if (db.changes() != 1)
      throw Refusal(kFailed, "星豆余额不足，请先充值！");
    db.run("UPDATE users SET balance_cents = balance_cents + ?1 WHERE id = ?2", amount, c.ownerId);
  }
  db.run(
      "INSERT INTO courseware_orders(courseware_id, user_id, amount_cents, pay_way, created_ms) "
      "VALUES(?1, ?2, ?3, ?4, ?5)",
      coursewareId, buyer, buyer == c.ownerId ? 0 : amount, payWay, call.now());
  const int64_t orderId = db.lastInsertId();
  const int64_t balance =
      db.queryInt("SELECT balance_cents FROM users WHERE id = ?1", buyer).value_or(0);
  tx.commit();
  return tavsrv::ok(json{{"orderId", orderId}, {"money", money(balance)}});
}

// The renditions the video server names, checked before they are stored: 1 to 4 of
// {"Definition": "OD"|"LD"|"FD"|"SD"|"HD", "PlayURL": an http(s) address of plain
// characters}. Empty when the text is not such a list.
std::string checkedPlayInfo(const std::string& text) {
  const json list = json::parse(text, nullptr, false);
  if (!list.is_array() || list.empty() || list.size() > 4)
    return {};
  json kept = json::array();
  for (const json& r : list) {
    if (!r.is_object() || !r.contains("Definition") || !r.contains("PlayURL") ||
        !r["Definition"].is_string() || !r["PlayURL"].is_string())
      return {};
    const std::string definition = r["Definition"], url = r["PlayURL"];
    if (definition != "OD" && definition != "LD" && definition != "FD" && definition != "SD" &&
        definition != "HD")
      return {};
    if (url.size() > 400 || (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0))
      return {};
    for (const char ch : url)
      if (ch <= ' ' || ch > '~' || ch == '"' || ch == '\\' || ch == '<' || ch == '>')
        return {};
    kept.push_back(json{{"Definition", definition}, {"PlayURL", url}});
  }
  return tavsrv::dumpJson(kept);
}

// The recording server publishes a recorded class as courseware (internal): its file
// below uds/upload/ (videoPath) or its renditions on the video server (playInfo). A name
// the room has already is refused, in the same statement that stores it.
json addCourseware(Call& call) {
  call.requireInternalToken();
  const uint32_t roomId = call.form.id("roomId");
  const uint32_t ownerId = call.form.id("globalId");
  const std::string name = call.form.text("coursewareName", 20);
  const int64_t price = call.form.integer("price", 0, 1000000);
  const std::string description = call.form.optionalText("description", 50).value_or("");
  const std::string grade = call.form.optionalText("grade", 20).value_or("");
  const std::string videoPath = call.form.optionalText("videoPath", 300).value_or("");
  const std::string playInfoText = call.form.optionalText("playInfo", 2000).value_or("");
  call.checkForm();
  const std::string playInfo = playInfoText.empty() ? std::string() : checkedPlayInfo(playInfoText);
  if (!isSafeDisplayText(name, 20) || videoPath.find("..") != std::string::npos ||
      (videoPath.empty() && playInfo.empty()) || (!playInfoText.empty() && playInfo.empty()))
    throw Refusal(kBadRequest, "课件参数不合要求！");
  requireRoom(call.db(), roomId);
  requireUser(call.db(), ownerId);
  call.db().run(
      "INSERT INTO coursewares(room_id, owner_id, name, description, price, grade, video_path, "
      "play_info, created_ms) SELECT ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9 WHERE NOT EXISTS "
      "(SELECT 1 FROM coursewares WHERE room_id = ?1 AND name = ?3)",
      roomId, ownerId, name, description, price, grade, videoPath, playInfo, call.now());
  if (call.db().changes() != 1)
    throw Refusal(kFailed, "已存在同名课件！");
  return tavsrv::ok(json{{"id", call.db().lastInsertId()}});
}
}  // namespace

void addCoursewareRoutes(Router& router) {
  router.post("rms/service/courseware/findCoursewareByRoomId", findCoursewareByRoomId);
  router.post("rms/service/courseware/findById", findById);
  router.post("rms/service/courseware/findbyName", findbyName);
  router.post("rms/service/courseware/updateRoomCourseware", updateRoomCourseware);
  router.post("rms/service/courseware/deleteCourseware", deleteCourseware);
  router.post("mbs/service/coursewareOrder/addOrderInfo", addOrderInfo);
  router.post("internal/courseware/add", addCourseware);
}

}  // namespace tavsvc
