#include "Domain.h"
#include "Routes.h"

namespace tavsvc {

namespace {
using tavsrv::code::kBadRequest;
using tavsrv::code::kNotFound;

// "globalId" is who registered the document: its pages lie in that member's
// room files, where the others fetch them.
json docJson(int64_t id, uint32_t roomId, const std::string& sharingName,
             const std::string& fileName, int64_t pages, int64_t uploader) {
  return json{
      {"id", id},      {"roomId", roomId},    {"sharingName", sharingName}, {"fileName", fileName},
      {"page", pages}, {"globalId", uploader}};
}

// A document name is also a folder name on every client: no separators, no
// parent references, nothing that breaks the clients' un-nesting.
bool isSafeFileName(const std::string& name) {
  if (!isSafeDisplayText(name, 100) || name == "." || name == "..")
    return false;
  for (char c : name)
    if (c == '/' || c == ':' || c == '*' || c == '?' || c == '<' || c == '>' || c == '|')
      return false;
  return true;
}

// The room of a document, refusing unknown ids.
uint32_t docRoom(Call& call, uint32_t docId) {
  const auto room = call.db().queryInt("SELECT room_id FROM shared_docs WHERE id = ?1", docId);
  if (!room)
    throw Refusal(kNotFound, "教案不存在！");
  return static_cast<uint32_t>(*room);
}

json getSharingInfo(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  call.requireMember(roomId);
  json docs = json::array();
  auto st = call.db().prepare(
      "SELECT id, sharing_name, file_name, page_count, created_by FROM shared_docs WHERE "
      "room_id = ?1 "
      "ORDER BY sort_order DESC, id DESC");
  st.bind(roomId);
  while (st.step())
    docs.push_back(docJson(st.int64(0), roomId, st.text(1), st.text(2), st.int64(3), st.int64(4)));
  return tavsrv::ok(docs);
}

json addSharingInfo(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  const std::string sharingName = call.form.text("sharingName", 40);
  const std::string fileName = call.form.text("fileName", 100);
  const int64_t pages = call.form.integer("page", 0, 10000);
  call.checkForm();
  if (!isSafeDisplayText(sharingName, 40))
    throw Refusal(kBadRequest, "教案名称不合要求！");
  if (!isSafeFileName(fileName))
    throw Refusal(kBadRequest, "教案文件名不合要求！");
  const uint32_t actor = call.requireRoomManager(roomId, true);
  auto& db = call.db();
  tavsrv::Transaction tx(db);
  const int64_t top =
      db.queryInt("SELECT MAX(sort_order) FROM shared_docs WHERE room_id = ?1", roomId).value_or(0);
  db.run(
      "INSERT INTO shared_docs(room_id, sharing_name, file_name, page_count, sort_order, "
      "created_by, "
      "created_ms) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
      roomId, sharingName, fileName, pages, top + 1, actor, call.now());
  const int64_t id = db.lastInsertId();
  tx.commit();
  json answer = docJson(id, roomId, sharingName, fileName, pages, actor);
  answer["code"] = 0;
  answer["msg"] = "";
  answer["body"] = docJson(id, roomId, sharingName, fileName, pages, actor);
  return answer;
}

json delSharingInfo(Call& call) {
  const uint32_t docId = call.form.id("id");
  call.checkForm();
  call.requireRoomManager(docRoom(call, docId), true);
  call.db().run("DELETE FROM shared_docs WHERE id = ?1", docId);
  return tavsrv::ok();
}

json moveSharingTop(Call& call) {
  const uint32_t docId = call.form.id("id");
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  if (docRoom(call, docId) != roomId)
    throw Refusal(kNotFound, "教案不存在！");
  call.requireRoomManager(roomId, true);
  auto& db = call.db();
  tavsrv::Transaction tx(db);
  const int64_t top =
      db.queryInt("SELECT MAX(sort_order) FROM shared_docs WHERE room_id = ?1", roomId).value_or(0);
  db.run("UPDATE shared_docs SET sort_order = ?1 WHERE id = ?2", top + 1, docId);
  tx.commit();
  return tavsrv::ok();
}

json updateRoomSharingInfo(Call& call) {
  const uint32_t docId = call.form.id("id");
  const std::string sharingName = call.form.text("sharingName", 40);
  const int64_t pages = call.form.integer("page", 0, 10000);
  call.checkForm();
  if (!isSafeDisplayText(sharingName, 40))
    throw Refusal(kBadRequest, "教案名称不合要求！");
  call.requireRoomManager(docRoom(call, docId), true);
  call.db().run("UPDATE shared_docs SET sharing_name = ?1, page_count = ?2 WHERE id = ?3",
                sharingName, pages, docId);
  return tavsrv::ok();
}
}  // namespace

void addSharingRoutes(Router& router) {
  router.post("rms/service/roomSharing/GetSharingInfo", getSharingInfo);
  router.post("rms/service/roomSharing/AddSharingInfo", addSharingInfo);
  router.post("rms/service/roomSharing/DelSharingInfo", delSharingInfo);
  router.post("rms/service/roomSharing/MoveSharingTop", moveSharingTop);
  router.post("rms/service/roomSharing/updateRoomSharingInfo", updateRoomSharingInfo);
}

}  // namespace tavsvc
