#include <cmath>

#include "Domain.h"
#include "Routes.h"
#include "Schema.h"

namespace tavsvc {

namespace {
using tavsrv::code::kFailed;
using tavsrv::code::kNotFound;
using tavsrv::code::kNotLoggedIn;

json giftFindAll(Call& call) {
  call.checkForm();
  json gifts = json::array();
  auto st =
      call.db().prepare("SELECT id, name, img_path, price_cents FROM gifts ORDER BY sort, id");
  while (st.step()) {
    gifts.push_back(json{{"id", st.int64(0)},
                         {"name", st.text(1)},
                         {"imgPath", st.text(2)},
                         {"money", money(st.int64(3))}});
  }
  return tavsrv::ok(gifts);
}

json medalFindAll(Call& call) {
  call.checkForm();
  json medals = json::array();
  auto st = call.db().prepare("SELECT id, name, img_path FROM medals ORDER BY id");
  while (st.step())
    medals.push_back(json{{"id", st.int64(0)}, {"name", st.text(1)}, {"imgPath", st.text(2)}});
  return tavsrv::ok(medals);
}

// Medals received in the room, most first: [{"<userId>": {"nickName", "count"}}, ...].
json findCounterByRoomId(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  call.requireMember(roomId);
  json rows = json::array();
  auto st = call.db().prepare(
      "SELECT um.user_id, u.nick_name, u.phone, COUNT(*) AS n FROM user_medals um "
      "JOIN users u ON u.id = um.user_id WHERE um.room_id = ?1 "
      "GROUP BY um.user_id, u.nick_name, u.phone ORDER BY n DESC, um.user_id");
  st.bind(roomId);
  while (st.step()) {
    const std::string name = st.text(1).empty() ? st.text(2) : st.text(1);
    rows.push_back(
        json{{std::to_string(st.int64(0)), {{"nickName", name}, {"count", st.int64(3)}}}});
  }
  return tavsrv::ok(rows);
}

json addUserMedal(Call& call) {
  const uint32_t target = call.form.id("globalId");
  const uint32_t medalId = call.form.id("medalId");
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  const uint32_t actor = call.requireRoomManager(roomId, true);
  auto& db = call.db();
  const RoomRow room = requireRoom(db, roomId);
  requireUser(db, target);
  if (!db.queryInt("SELECT 1 FROM medals WHERE id = ?1", medalId))
    throw Refusal(kNotFound, "勋章不存在！");
  if (storedRole(db, room, target) == 0)
    throw Refusal(kFailed, "该用户不在本教室中！");
  db.run(
      "INSERT INTO user_medals(room_id, user_id, medal_id, awarded_by, created_ms) "
      "VALUES(?1, ?2, ?3, ?4, ?5)",
      roomId, target, medalId, actor, call.now());
  return tavsrv::ok(json{{"id", db.lastInsertId()}});
}

// Buys count gifts for the target and gives them: the payer's balance goes down
// by the catalogue price, the target's up, in one transaction; a balance that
// does not cover the price refuses and changes nothing.
json addConsume(Call& call) {
  const uint32_t target = call.form.id("consumeGlobalId");
  const std::string ticket = call.form.text("ticketId", 64);
  const uint32_t giftId = call.form.id("giftId");
  const int64_t count = call.form.integer("count", 1, 99999);
  const double unitPrice = call.form.number("money", 1e7);
  const uint32_t payer = call.form.id("globalId");
  call.checkForm();
  auto& db = call.db();
  // The body carries the payer's ticket: it must be the payer's own, live ticket.
  if (!ticketBelongsTo(db, ticket, payer, call.now()))
    throw Refusal(kNotLoggedIn, "登录已失效，请重新登录！");
  if (call.req.has_header(kTicketHeader))
    call.requireSelf(payer);
  if (target == payer)
    throw Refusal(kFailed, "不可以自己给自己送礼物！");
  requireUser(db, target);
  const auto price = db.queryInt("SELECT price_cents FROM gifts WHERE id = ?1", giftId);
  if (!price)
    throw Refusal(kNotFound, "礼物不存在！");
  // The price the user saw must be the price charged.
  if (std::llround(unitPrice * 100.0) != *price)
    throw Refusal(kFailed, "礼物价格已更新，请重新进入教室后再赠送！");
  const int64_t amount = *price * count;

  tavsrv::Transaction tx(db);
  db.run(
      "UPDATE users SET balance_cents = balance_cents - ?1 WHERE id = ?2 AND balance_cents >= ?1",
      amount, payer);
  if (db.changes() != 1)
    throw Refusal(kFailed, "余额不足，请先充值！");
  db.run("UPDATE users SET balance_cents = balance_cents + ?1 WHERE id = ?2", amount, target);
  db.run(
      "INSERT INTO consumptions(user_id, target_user_id, gift_id, count, amount_cents, created_ms) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
      payer, target, giftId, count, amount, call.now());
  const int64_t balance =
      db.queryInt("SELECT balance_cents FROM users WHERE id = ?1", payer).value_or(0);
  tx.commit();
  return tavsrv::ok(moneyText(balance));
}

json getRechargeInfo(Call& call) {
  const uint32_t userId = call.form.id("id");
  call.checkForm();
  call.requireSelf(userId);
  const UserRow user = requireUser(call.db(), userId);
  return tavsrv::ok(
      json{{"globalId", user.id},
           {"money", money(user.balanceCents)},
           {"options", json::array({10, 50, 100, 500})},
           {"rechargeUrl", call.baseUrl() + "/tavolin/views/personalCenter/rechargeCenter.html"}});
}

json orderFindById(Call& call) {
  const uint32_t orderId = call.form.id("orderId");
  call.checkForm();
  auto st = call.db().prepare(
      "SELECT o.id, o.courseware_id, o.user_id, o.amount_cents, o.pay_way, o.created_ms, c.name "
      "FROM courseware_orders o JOIN coursewares c ON c.id = o.courseware_id WHERE o.id = ?1");
  st.bind(orderId);
  if (!st.step())
    throw Refusal(kNotFound, "订单不存在！");
  const uint32_t owner = static_cast<uint32_t>(st.int64(2));
  json order{{"orderId", st.int64(0)},
             {"coursewareId", st.int64(1)},
             {"globalId", owner},
             {"money", money(st.int64(3))},
             {"payWay", st.int64(4)},
             {"status", "已支付"},
             {"createTime", tavsrv::formatLocalTime(st.int64(5))},
             {"coursewareName", st.text(6)}};
  call.requireSelf(owner);
  return tavsrv::ok(order);
}
}  // namespace

void addGiftRoutes(Router& router) {
  router.post("rms/service/gift/findAll", giftFindAll);
  router.post("rms/service/medal/findAll", medalFindAll);
  router.post("rms/service/userMedal/findCounterByRoomId", findCounterByRoomId);
  router.post("rms/service/userMedal/addUserMedal", addUserMedal);
  router.post("mbs/service/consume/addConsume", addConsume);
  router.post("mbs/service/recharge/getRechargeInfo", getRechargeInfo);
  router.post("mbs/service/order/findbyId", orderFindById);
}

}  // namespace tavsvc
