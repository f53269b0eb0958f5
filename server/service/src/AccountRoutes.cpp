#include "Domain.h"
#include "Routes.h"
#include "Schema.h"
#include "tavsrv/Credential.h"
#include "tavsrv/Random.h"

namespace tavsvc {

namespace {
using tavsrv::code::kBadRequest;
using tavsrv::code::kFailed;
using tavsrv::code::kNotFound;

constexpr int64_t kWebKeyLifetimeMs = 5 * 60 * 1000;

json login(Call& call) {
  const std::string userName = call.form.text("userName", 64);
  const std::string password = call.form.text("userPwd", 128);
  call.checkForm();

  std::optional<uint32_t> userId;
  std::string hash;
  {
    // The account name, or the phone number or nickname of exactly one account:
    // the client remembers accounts under their display name (nickname, or
    // phone when there is none) and logs in with what it remembered.
    auto st = call.db().prepare(
        "SELECT id, pwd_hash FROM users WHERE user_name = ?1 "
        "UNION ALL SELECT id, pwd_hash FROM users WHERE phone = ?1 AND phone <> '' "
        "AND (SELECT COUNT(*) FROM users WHERE phone = ?1) = 1 "
        "UNION ALL SELECT id, pwd_hash FROM users WHERE nick_name = ?1 AND nick_name <> '' "
        "AND (SELECT COUNT(*) FROM users WHERE nick_name = ?1) = 1 LIMIT 1");
    st.bind(userName);
    if (st.step()) {
      userId = static_cast<uint32_t>(st.int64(0));
      hash = st.text(1);
    }
  }
  // Failures count per account, whichever of its names was typed; a name that
  // is no account counts by itself.
  const std::string account = userId ? "#" + std::to_string(*userId) : userName;
  if (call.ctx.loginThrottle.blocked(call.db(), call.req.remote_addr, account, call.now()))
    throw Refusal(kFailed, "密码错误次数过多，请5分钟后再试！");
  call.releaseDb();  // hashing is slow: do not hold a store connection meanwhile
  bool good = false;
  if (userId) {
    good = call.ctx.hasher->verify(hash, password);
  } else {
    std::call_once(call.ctx.dummyHashOnce,
                   [&] { call.ctx.dummyHash = call.ctx.hasher->hash(tavsrv::randomHex(8)); });
    call.ctx.hasher->verify(call.ctx.dummyHash, password);
  }
  if (!good) {
    call.ctx.loginThrottle.failed(call.db(), call.req.remote_addr, account, call.now());
    throw Refusal(kFailed, "用户名或密码错误！");
  }
  call.ctx.loginThrottle.succeeded(call.db(), call.req.remote_addr, account);

  const UserRow user = requireUser(call.db(), *userId);
  const std::string ticket = issueTicket(call.db(), user.id, call.req.remote_addr, call.now());
  json org{{"id", user.orgId ? *user.orgId : 0}, {"name", ""}};
  if (user.orgId)
    org["name"] =
        call.db().queryText("SELECT name FROM orgs WHERE id = ?1", *user.orgId).value_or("");
  const json body{{"globalId", user.id},       {"ticketId", ticket},
                  {"nickName", user.nickName}, {"phone", user.phone},
                  {"roleName", user.roleName}, {"imagePath", user.imagePath},
                  {"userName", user.userName}, {"level", user.level}};
  return json{{"code", 0},
              {"msg", ""},
              {"body", tavsrv::embedObject(body)},
              {"orgInfo", tavsrv::embedSafe(org)},
              {"chat_server", tavsrv::embedSafeText(call.ctx.chatServer(user.id).str())},
              {"chat_credential",
               issueCredential(call.ctx, user.id, tavsrv::kLoginChannel, 0, kTicketLifetimeMs)}};
}

// A fresh one-login credential for the ticket's user, for a lobby whose credential the
// message server no longer takes (expired, or the key rotated). The ticket says who.
json chatCredential(Call& call) {
  const uint32_t userId = call.form.id("globalId");
  call.checkForm();
  call.requireSelf(userId);
  requireUser(call.db(), userId);
  return json{{"code", 0},
              {"msg", ""},
              {"chat_server", call.ctx.chatServer(userId).str()},
              {"chat_credential",
               issueCredential(call.ctx, userId, tavsrv::kLoginChannel, 0, kTicketLifetimeMs)}};
}

// A short-lived key that lets the web pages show this user's own data.
json putRedis(Call& call) {
  const uint32_t userId = call.form.id("globalId");
  const std::optional<uint32_t> roomId = call.form.optionalId("roomid");
  const std::string typeName = call.form.optionalText("typename", 40).value_or("");
  const std::string discount = call.form.optionalText("discount", 20).value_or("");
  call.checkForm();
  call.requireSelf(userId);
  requireUser(call.db(), userId);
  if (roomId) {
    requireRoom(call.db(), *roomId);
    call.refuseRemoved(*roomId);
  }
  const std::string key = tavsrv::randomHex(16);
  call.db().run("DELETE FROM web_keys WHERE expires_ms <= ?1", call.now());
  call.db().run(
      "INSERT INTO web_keys(key, user_id, room_id, type_name, discount, expires_ms) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
      key, userId, roomId ? std::optional<int64_t>(*roomId) : std::nullopt, typeName, discount,
      call.now() + kWebKeyLifetimeMs);
  return tavsrv::ok(key);
}

json findUserInfoById(Call& call) {
  const uint32_t userId = call.form.id("id");
  call.checkForm();
  const UserRow user = requireUser(call.db(), userId);
  json body{{"globalId", user.id},       {"id", user.id},
            {"nickName", user.nickName}, {"imagePath", user.imagePath},
            {"roleName", user.roleName}, {"level", user.level}};
  // The balance and the phone number are only for the user's own eyes.
  const Caller& caller = call.caller();
  if (caller.canActAs(user.id)) {
    body["money"] = money(user.balanceCents);
    body["phone"] = user.phone;
  }
  return tavsrv::ok(body);
}

json saveScores(Call& call) {
  const std::string param = call.form.text("param", 2000);
  call.checkForm();
  const json score = json::parse(param, nullptr, false);
  const auto integer = [&](const char* key) -> int64_t {
    if (!score.is_object() || !score.contains(key) || !score[key].is_number_integer())
      throw Refusal(kBadRequest, std::string("评价参数错误：") + key);
    return score[key].get<int64_t>();
  };
  const int64_t uId = integer("uId"), uRole = integer("uRole"), tId = integer("tId"),
                tRole = integer("tRole"), roomId = integer("roomId"), value = integer("score");
  if (!score.contains("content") || !score["content"].is_string())
    throw Refusal(kBadRequest, "评价参数错误：content");
  const std::string content = score["content"].get<std::string>();
  if (tavsrv::utf8Length(content) > 200)
    throw Refusal(kBadRequest, "评价内容过长！");
  if ((uRole != 1 && uRole != 2) || (tRole != 1 && tRole != 2))
    throw Refusal(kBadRequest, "评价参数错误：角色");
  if (value != 20 && value != 40 && value != 60 && value != 80 && value != 100)
    throw Refusal(kBadRequest, "评价参数错误：score");
  if (uId <= 0 || uId > 0xFFFFFFFFLL || tId <= 0 || tId > 0xFFFFFFFFLL || roomId <= 0 ||
      roomId > 0xFFFFFFFFLL)
    throw Refusal(kBadRequest, "评价参数错误：编号");
  call.requireSelf(static_cast<uint32_t>(uId));
  call.requireMember(static_cast<uint32_t>(roomId));
  requireUser(call.db(), static_cast<uint32_t>(tId));
  call.db().run(
      "INSERT INTO scores(user_id, user_role, teacher_id, teacher_role, room_id, score, content, "
      "created_ms) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
      uId, uRole, tId, tRole, roomId, value, content, call.now());
  return tavsrv::ok();
}

// What the room's students and parents said of its teaching, for its owner:
// how many ratings, their mean, and the latest few with their comments.
json findEvaluationSummary(Call& call) {
  const uint32_t roomId = call.form.id("roomId");
  call.checkForm();
  requireRoom(call.db(), roomId);
  call.requireRoomManager(roomId, false);
  auto& db = call.db();
  const int64_t count =
      db.queryInt("SELECT COUNT(*) FROM scores WHERE room_id = ?1", roomId).value_or(0);
  const int64_t total =
      db.queryInt("SELECT COALESCE(SUM(score), 0) FROM scores WHERE room_id = ?1", roomId)
          .value_or(0);
  json latest = json::array();
  auto st = db.prepare(
      "SELECT score, content, created_ms FROM scores WHERE room_id = ?1 ORDER BY id DESC LIMIT 5");
  st.bind(roomId);
  while (st.step())
    latest.push_back(json{{"score", st.int64(0)},
                          {"content", st.text(1)},
                          {"createTime", tavsrv::formatLocalTime(st.int64(2))}});
  const double mean = count > 0 ? double(total) / double(count) : 0.0;
  return tavsrv::ok(json{{"count", count}, {"mean", mean}, {"latest", latest}});
}

json querySettings(Call& call) {
  const std::string type = call.form.optionalText("type", 20).value_or("3");
  call.checkForm();
  const auto value = call.db().queryText("SELECT value FROM settings WHERE type = ?1", type);
  json body = value ? json::parse(*value, nullptr, false) : json::object();
  if (body.is_discarded())
    body = json::object();
  return tavsrv::ok(body);
}

json softwareVersionsTop(Call& call) {
  const std::string type = call.form.optionalText("type", 20).value_or("pc");
  call.checkForm();
  auto st = call.db().prepare(
      "SELECT version, url, signature FROM software_versions WHERE type = ?1 "
      "ORDER BY id DESC LIMIT 1");
  st.bind(type);
  if (!st.step())
    throw Refusal(kNotFound, "暂无版本信息！");
  const std::string version = st.text(0);
  std::string url = st.text(1);
  const std::string signature = st.text(2);
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
    url = call.baseUrl() + "/" + (url.rfind('/', 0) == 0 ? url.substr(1) : url);
  return json{
      {"code", 0},
      {"msg", ""},
      {"info", version},
      {"url", url},
      {"signature", signature},
      {"body", {{"version", version}, {"url", url}, {"type", type}, {"signature", signature}}}};
}
}  // namespace

void addAccountRoutes(Router& router) {
  router.post("aas/service/user/login", login, /*embedded=*/true);
  router.post("aas/service/user/chatCredential", chatCredential);
  router.post("aas/service/user/putRedis", putRedis);
  router.post("aas/service/user/findUserInfoById", findUserInfoById);
  router.post("aas/service/user/saveScores", saveScores);
  router.post("rms/service/room/findEvaluationSummary", findEvaluationSummary);
  router.post("aas/service/system/querySettings", querySettings);
  router.post("svs/service/software/getSoftwareVersionsTop", softwareVersionsTop);
}

}  // namespace tavsvc
