#include "Call.h"

#include <httplib.h>

#include "Domain.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "tavsrv/Log.h"
#include "tavsrv/Random.h"

namespace tavsvc {

const char* const kNoRight = "没有权限！";

Call::Call(Context& ctx, const httplib::Request& req, tavsrv::Form form)
    : ctx(ctx), req(req), form(std::move(form)) {}

tavsrv::Connection& Call::db() {
  if (!lease_)
    lease_.emplace(ctx.pool->acquire());
  return **lease_;
}

void Call::checkForm() {
  if (!form.ok())
    throw Refusal(tavsrv::code::kBadRequest, form.error());
}

const Caller& Call::caller() {
  if (!caller_)
    caller_ = identify(db(), req, now());
  return *caller_;
}

void Call::requireSelf(uint32_t userId) {
  const Caller& who = caller();
  if (!who.known())
    throw Refusal(tavsrv::code::kNotLoggedIn, "请先登录！");
  if (!who.canActAs(userId))
    throw Refusal(tavsrv::code::kForbidden, kNoRight);
}

uint32_t Call::requireRoomManager(uint32_t roomId, bool allowAssistant) {
  const auto owner = db().queryInt("SELECT owner_id FROM rooms WHERE id = ?1", roomId);
  if (!owner)
    throw Refusal(tavsrv::code::kNotFound, "教室不存在！");
  const Caller& who = caller();
  if (!who.known())
    throw Refusal(tavsrv::code::kNotLoggedIn, "请先登录！");
  if (who.canActAs(static_cast<uint32_t>(*owner)))
    return static_cast<uint32_t>(*owner);
  if (allowAssistant) {
    for (uint32_t user : who.users) {
      if (db().queryInt("SELECT 1 FROM room_assistants WHERE room_id = ?1 AND user_id = ?2", roomId,
                        user)) {
        // An assistant the owner removed manages nothing while the ban lasts.
        if (const int64_t left = banLeftMs(db(), roomId, user, now()); left > 0)
          throw Refusal(tavsrv::code::kForbidden, banMessage(left));
        return user;
      }
    }
  }
  throw Refusal(tavsrv::code::kForbidden, kNoRight);
}

uint32_t Call::requireMember(uint32_t roomId) {
  const Caller& who = caller();
  if (!who.known()) {
    requireRoom(db(), roomId);
    throw Refusal(tavsrv::code::kNotLoggedIn, "请先登录！");
  }
  int64_t banned = 0;
  for (uint32_t user : who.users) {
    const Standing standing = standingIn(db(), roomId, user, now());
    if (!standing.roomExists)
      throw Refusal(tavsrv::code::kNotFound, "教室不存在！");
    if (!standing.belongs)
      continue;
    if (standing.banLeftMs == 0)
      return user;
    banned = std::max(banned, standing.banLeftMs);
  }
  if (banned > 0)
    throw Refusal(tavsrv::code::kForbidden, banMessage(banned));
  throw Refusal(tavsrv::code::kForbidden, "您不是本教室的成员！");
}

void Call::refuseRemoved(uint32_t roomId) {
  for (uint32_t user : caller().users)
    if (const int64_t left = banLeftMs(db(), roomId, user, now()); left > 0)
      throw Refusal(tavsrv::code::kForbidden, banMessage(left));
}

void Call::requireInternalToken() {
  const std::string given = req.get_header_value(kInternalTokenHeader);
  if (ctx.config.internalToken.empty() || !tavsrv::equalSecrets(given, ctx.config.internalToken))
    throw Refusal(tavsrv::code::kForbidden, "内部接口令牌无效！");
}

std::string Call::baseUrl() const {
  std::string host = req.get_header_value("Host");
  bool sane = !host.empty() && host.size() < 256;
  for (char c : host)
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '[' ||
          c == ']'))
      sane = false;
  return "http://" + (sane ? host : ctx.self.str());
}

void Router::post(const std::string& path, Handler handler, bool embedded) {
  add(path, embedded,
      [handler](Call& call, httplib::Response& res) { tavsrv::sendJson(res, handler(call)); });
}

void Router::postText(const std::string& path, TextHandler handler, bool embedded) {
  add(path, embedded, [handler](Call& call, httplib::Response& res) {
    res.set_content(handler(call), "application/json; charset=utf-8");
  });
}

void Router::add(const std::string& path, bool embedded,
                 std::function<void(Call&, httplib::Response&)> answer) {
  Context& ctx = ctx_;
  catalogue_["/" + path] = [&ctx, path, answer, embedded](const httplib::Request& req,
                                                          httplib::Response& res) {
    // Handlers of embedded answers build them safe; refusals are made safe here.
    const auto send = [&](const json& answer) { tavsrv::sendJson(res, answer); };
    const auto refuse = [&](int code, const std::string& msg) {
      const json answer = tavsrv::refusal(code, msg);
      send(embedded ? tavsrv::embedSafe(answer) : answer);
    };
    if (req.body.size() > ctx.config.formLimit) {
      refuse(tavsrv::code::kTooLarge, "请求内容过大！");
      return;
    }
    std::string formError;
    auto form = tavsrv::Form::parse(req.body, &formError);
    if (!form) {
      tavsrv::logInfo("refused " + path + " from " + req.remote_addr + ": " + formError);
      refuse(tavsrv::code::kBadRequest, formError);
      return;
    }
    try {
      Call call(ctx, req, std::move(*form));
      answer(call, res);
    } catch (const Refusal& refusal) {
      if (refusal.code != tavsrv::code::kNotPresent)
        tavsrv::logDebug("refused " + path + " from " + req.remote_addr + ": " + refusal.what());
      refuse(refusal.code, refusal.what());
    } catch (const tavsrv::DbError& error) {
      tavsrv::logError(path + ": store error: " + error.what());
      refuse(tavsrv::code::kInternal, "服务器繁忙，请稍后重试！");
    } catch (const std::exception& error) {
      tavsrv::logError(path + ": " + error.what());
      refuse(tavsrv::code::kInternal, "服务器内部错误！");
    }
  };
}

void Router::finish() {
  // Registered last, so the few pattern routes (web page forms) are tried first.
  server_.Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
    const auto found = catalogue_.find(req.path);
    if (found == catalogue_.end()) {
      tavsrv::sendJson(res, tavsrv::refusal(tavsrv::code::kNotFound, "接口不存在！"), 404);
      return;
    }
    found->second(req, res);
  });
}

std::string moneyText(int64_t cents) {
  const bool negative = cents < 0;
  const uint64_t value = negative ? static_cast<uint64_t>(-cents) : static_cast<uint64_t>(cents);
  std::string text = std::to_string(value / 100);
  const unsigned fraction = static_cast<unsigned>(value % 100);
  if (fraction != 0) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02u", fraction);
    std::string f(digits);
    if (f.back() == '0')
      f.pop_back();
    text += "." + f;
  }
  return negative ? "-" + text : text;
}

}  // namespace tavsvc
