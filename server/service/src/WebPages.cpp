// The web pages the client opens in the browser, rendered on the server as
// plain HTML (UTF-8, every value escaped). Personal pages take the short-lived
// key from putRedis ("Keycode") instead of a login.
#include <httplib.h>

#include "Accounts.h"
#include "Domain.h"
#include "Routes.h"
#include "Schema.h"
#include "tavsrv/Log.h"

namespace tavsvc {

namespace {

std::string esc(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void sendPage(httplib::Response& res, const std::string& title, const std::string& body,
              int status = 200) {
  res.status = status;
  res.set_header("Content-Security-Policy", "default-src 'self'; style-src 'unsafe-inline'");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_content(
      "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>" +
          esc(title) +
          " - 塔维网</title><style>"
          "body{font-family:sans-serif;max-width:860px;margin:24px auto;padding:0 16px;color:#222}"
          "h1{color:#3a6dfc;font-size:22px}table{border-collapse:collapse;width:100%}"
          "td,th{border-bottom:1px solid #ddd;padding:6px;text-align:left}"
          "label{display:block;margin:8px 0}input{padding:4px;min-width:220px}"
          ".msg{padding:8px;background:#eef3ff;border-left:4px solid #3a6dfc}"
          ".err{padding:8px;background:#fff0f0;border-left:4px solid #d33}"
          ".demo{padding:8px;background:#fff7d6;border:2px dashed #e0a000}"
          "nav a{margin-right:12px}</style></head><body>"
          "<nav><a href=\"/tavolin/index.html\">首页</a><a "
          "href=\"/tavolin/views/notice.html\">公告</a>"
          "<a href=\"/tavolin/views/register.html\">注册</a></nav>"
          "<h1>" +
          esc(title) + "</h1>\n" + body + "\n</body></html>\n",
      "text/html; charset=utf-8");
}

// The user (and room) a page key stands for, or nullopt when it is unknown or expired.
struct PageKey {
  uint32_t userId;
  std::optional<uint32_t> roomId;
};
std::optional<PageKey> lookupKey(tavsrv::Connection& db, const std::string& key, int64_t nowMs) {
  if (key.size() != 32)
    return std::nullopt;
  auto st = db.prepare("SELECT user_id, room_id FROM web_keys WHERE key = ?1 AND expires_ms > ?2");
  st.bind(key, nowMs);
  if (!st.step())
    return std::nullopt;
  PageKey found{static_cast<uint32_t>(st.int64(0)), std::nullopt};
  if (!st.isNull(1))
    found.roomId = static_cast<uint32_t>(st.int64(1));
  return found;
}

std::string roomTable(tavsrv::Connection& db, const std::string& sql, uint32_t userId) {
  std::string rows;
  auto st = db.prepare(sql);
  st.bind(userId);
  static const char* statusText[] = {"", "正常", "已关闭", "未激活", "审核中"};
  while (st.step()) {
    const int status = static_cast<int>(st.int64(3));
    rows += "<tr><td>" + esc(st.text(1)) + "</td><td>" + esc(st.text(2)) + "</td><td>" +
            esc(status >= 1 && status <= 4 ? statusText[status] : "") + "</td><td>" +
            esc(st.text(4)) + " - " + esc(st.text(5)) + "</td></tr>";
  }
  if (rows.empty())
    return "<p>暂无班级。</p>";
  return "<table><tr><th>班级</th><th>老师</th><th>状态</th><th>开课时间</th></tr>" + rows +
         "</table>";
}

constexpr const char* kRoomColumns =
    "SELECT r.id, r.room_name, CASE WHEN u.nick_name = '' THEN u.phone ELSE u.nick_name END, "
    "r.status, r.plan_start, r.plan_end FROM rooms r JOIN users u ON u.id = r.owner_id ";

void registerForm(httplib::Response& res, const std::string& message, bool error,
                  const std::string& userName = "", const std::string& nickName = "",
                  const std::string& phone = "") {
  std::string body;
  if (!message.empty())
    body += std::string("<p class=\"") + (error ? "err" : "msg") + "\">" + esc(message) + "</p>";
  body +=
      "<form method=\"post\" action=\"/tavolin/views/register.html\">"
      "<label>用户名（3到20个字母、数字或下划线）<br><input name=\"userName\" maxlength=\"20\" "
      "value=\"" +
      esc(userName) +
      "\" required></label>"
      "<label>昵称<br><input name=\"nickName\" maxlength=\"20\" value=\"" +
      esc(nickName) +
      "\" required></label>"
      "<label>手机号码（可不填）<br><input name=\"phone\" maxlength=\"11\" value=\"" +
      esc(phone) +
      "\"></label>"
      "<label>密码（6到32个字符）<br><input type=\"password\" name=\"password\" maxlength=\"32\" "
      "required></label>"
      "<label>确认密码<br><input type=\"password\" name=\"password2\" maxlength=\"32\" "
      "required></label>"
      "<p><button type=\"submit\">注册</button></p></form>";
  sendPage(res, "注册账号", body, error ? 400 : 200);
}

// Runs a page handler with a store connection; store failures become an error page.
template <class Fn>
void withStore(Context& ctx, httplib::Response& res, Fn fn) {
  try {
    auto lease = ctx.pool->acquire();
    fn(*lease);
  } catch (const Refusal& refusal) {
    sendPage(res, "出错了", "<p class=\"err\">" + esc(refusal.what()) + "</p>", 400);
  } catch (const std::exception& error) {
    tavsrv::logError(std::string("web page: ") + error.what());
    sendPage(res, "出错了", "<p class=\"err\">服务器繁忙，请稍后重试。</p>", 500);
  }
}

// The pages that need a key: a missing or expired key gets an explanation.
template <class Fn>
void withKey(Context& ctx, const httplib::Request& req, httplib::Response& res, Fn fn) {
  withStore(ctx, res, [&](tavsrv::Connection& db) {
    const auto key = lookupKey(db, req.get_param_value("Keycode"), ctx.now());
    if (!key) {
      sendPage(res, "链接已失效", "<p class=\"err\">链接已失效，请从客户端重新打开此页面。</p>",
               403);
      return;
    }
    const auto user = loadUser(db, key->userId);
    if (!user) {
      sendPage(res, "链接已失效", "<p class=\"err\">用户不存在。</p>", 404);
      return;
    }
    fn(db, *key, *user);
  });
}

std::string keyQuery(const httplib::Request& req) {
  return "?Keycode=" + esc(req.get_param_value("Keycode"));
}

}  // namespace

void addWebPages(Router& router) {
  httplib::Server& server = router.server();
  Context& ctx = router.ctx();

  server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("/tavolin/index.html");
  });

  const auto index = [&ctx](const httplib::Request& req, httplib::Response& res) {
    withStore(ctx, res, [&](tavsrv::Connection& db) {
      // A shared link names its room (?roomId=N): an open, running one is shown first.
      std::string shared;
      const std::string wanted = req.get_param_value("roomId");
      if (!wanted.empty() && wanted.size() <= 10 &&
          wanted.find_first_not_of("0123456789") == std::string::npos) {
        auto st = db.prepare(std::string(kRoomColumns) +
                             "WHERE r.id = ?1 AND r.status = 1 AND r.open_style = 1");
        st.bind(static_cast<int64_t>(std::stoll(wanted)));
        if (st.step())
          shared = "<p class=\"shared\">分享给你的班级：<b>" + esc(st.text(1)) + "</b>（老师：" +
                   esc(st.text(2)) + "，开课时间：" + esc(st.text(4)) + " - " + esc(st.text(5)) +
                   "）</p>";
      }
      std::string rows;
      auto st = db.prepare(std::string(kRoomColumns) +
                           "WHERE r.status = 1 AND r.open_style = 1 ORDER BY r.id LIMIT 100");
      while (st.step()) {
        rows += "<tr><td>" + esc(st.text(1)) + "</td><td>" + esc(st.text(2)) + "</td><td>" +
                esc(st.text(4)) + " - " + esc(st.text(5)) + "</td></tr>";
      }
      sendPage(res, "塔维网小班课",
               shared +
                   "<p>在线小班课堂：下载客户端，登录后进入班级上课。</p>"
                   "<table><tr><th>班级</th><th>老师</th><th>开课时间</th></tr>" +
                   rows + "</table>");
    });
  };
  server.Get("/tavolin/index.html", index);
  server.Get("/tavolin/views/tav-smallclass/index.html", index);

  server.Get("/tavolin/views/register.html",
             [](const httplib::Request&, httplib::Response& res) { registerForm(res, "", false); });
  server.Post("/tavolin/views/register.html", [&ctx](const httplib::Request& req,
                                                     httplib::Response& res) {
    std::string error;
    auto form = req.body.size() <= ctx.config.formLimit ? tavsrv::Form::parse(req.body, &error)
                                                        : std::nullopt;
    if (!form)
      return registerForm(res, error.empty() ? "请求内容过大！" : error, true);
    NewAccount account;
    account.userName = form->optionalText("userName", 64).value_or("");
    account.nickName = form->optionalText("nickName", 64).value_or("");
    account.phone = form->optionalText("phone", 32).value_or("");
    account.password = form->optionalText("password", 64).value_or("");
    const std::string again = form->optionalText("password2", 64).value_or("");
    if (!form->ok())
      return registerForm(res, form->error(), true);
    if (account.password != again)
      return registerForm(res, "两次输入的密码不一致！", true, account.userName, account.nickName,
                          account.phone);
    const std::string problem = checkNewAccount(account);
    if (!problem.empty())
      return registerForm(res, problem, true, account.userName, account.nickName, account.phone);
    try {
      auto lease = ctx.pool->acquire();
      const uint32_t id = createAccount(*lease, *ctx.hasher, account, ctx.now());
      tavsrv::logInfo("registered account " + account.userName + " (" + std::to_string(id) + ")");
      sendPage(
          res, "注册成功",
          "<p class=\"msg\">账号 " + esc(account.userName) + " 注册成功，请回到客户端登录。</p>");
    } catch (const Refusal& refusal) {
      registerForm(res, refusal.what(), true, account.userName, account.nickName, account.phone);
    } catch (const std::exception& e) {
      tavsrv::logError(std::string("register: ") + e.what());
      registerForm(res, "服务器繁忙，请稍后重试！", true);
    }
  });

  server.Get("/tavolin/mes-login.html", [](const httplib::Request&, httplib::Response& res) {
    sendPage(res, "短信登录",
             "<p class=\"msg\">本站暂未开通短信验证码服务。请在客户端使用账号（或绑定的手机号码）"
             "和密码登录；还没有账号？<a href=\"/tavolin/views/register.html\">立即注册</a>。</p>");
  });

  server.Get("/tavolin/views/notice.html", [&ctx](const httplib::Request&, httplib::Response& res) {
    withStore(ctx, res, [&](tavsrv::Connection& db) {
      std::string items;
      auto st =
          db.prepare("SELECT title, content, created_ms FROM bulletins ORDER BY id DESC LIMIT 50");
      while (st.step()) {
        items += "<h3>" + esc(st.text(0)) + "</h3><p>" + esc(st.text(1)) + "</p><p><small>" +
                 esc(tavsrv::formatLocalTime(st.int64(2))) + "</small></p>";
      }
      sendPage(res, "网站公告", items.empty() ? "<p>暂无公告。</p>" : items);
    });
  });

  server.Get("/tavolin/views/personalCenter/myclass.html", [&ctx](const httplib::Request& req,
                                                                  httplib::Response& res) {
    withKey(ctx, req, res, [&](tavsrv::Connection& db, const PageKey&, const UserRow& user) {
      sendPage(res, "我的班级",
               "<p>" + esc(user.displayName()) + "，你好！</p><h2>我创建的班级</h2>" +
                   roomTable(db, std::string(kRoomColumns) + "WHERE r.owner_id = ?1 ORDER BY r.id",
                             user.id) +
                   "<h2>我加入的班级</h2>" +
                   roomTable(db,
                             std::string(kRoomColumns) +
                                 "JOIN room_members m ON m.room_id = r.id "
                                 "WHERE m.user_id = ?1 AND r.owner_id <> m.user_id ORDER BY r.id",
                             user.id) +
                   "<p><a href=\"rechargeCenter.html" + keyQuery(req) +
                   "\">充值中心</a> "
                   "<a href=\"myMessage.html" +
                   keyQuery(req) + "\">我的消息</a></p>");
    });
  });

  const auto rechargePage = [&ctx](const httplib::Request& req, httplib::Response& res,
                                   const std::string& message, bool error) {
    withKey(ctx, req, res, [&](tavsrv::Connection& db, const PageKey&, const UserRow& user) {
      const int64_t balance =
          db.queryInt("SELECT balance_cents FROM users WHERE id = ?1", user.id).value_or(0);
      // Only ever the key's own user: the key comes from that user's login.
      std::string body =
          "<p class=\"demo\"><b>演示 · DEMO</b>：这里不收款，星豆直接记入你自己的账户，"
          "仅供体验。</p>";
      if (!message.empty())
        body +=
            std::string("<p class=\"") + (error ? "err" : "msg") + "\">" + esc(message) + "</p>";
      body +=
          "<p>" + esc(user.displayName()) + "，你的星豆余额：<b>" + esc(moneyText(balance)) +
          "</b></p><form method=\"post\" action=\"rechargeCenter.html" + keyQuery(req) +
          "\"><label>充值星豆数量（1到10000，演示环境直接到账）<br>"
          "<input name=\"amount\" type=\"number\" min=\"1\" max=\"10000\" value=\"100\" required>"
          "</label><p><button type=\"submit\">充值</button></p></form>";
      sendPage(res, "充值中心（演示）", body, error ? 400 : 200);
    });
  };
  server.Get("/tavolin/views/personalCenter/rechargeCenter.html",
             [rechargePage](const httplib::Request& req, httplib::Response& res) {
               rechargePage(req, res, "", false);
             });
  server.Post(
      "/tavolin/views/personalCenter/rechargeCenter.html",
      [&ctx, rechargePage](const httplib::Request& req, httplib::Response& res) {
        std::string error;
        auto form = req.body.size() <= 4096 ? tavsrv::Form::parse(req.body, &error) : std::nullopt;
        int64_t amount = 0;
        if (form)
          amount = form->integer("amount", 1, 10000);
        if (!form || !form->ok())
          return rechargePage(req, res, form ? form->error() : "请求参数格式错误！", true);
        bool done = false;
        withKey(ctx, req, res, [&](tavsrv::Connection& db, const PageKey&, const UserRow& user) {
          tavsrv::Transaction tx(db);
          db.run("UPDATE users SET balance_cents = balance_cents + ?1 WHERE id = ?2", amount * 100,
                 user.id);
          db.run(
              "INSERT INTO recharges(user_id, amount_cents, source, created_ms) "
              "VALUES(?1, ?2, 'web', ?3)",
              user.id, amount * 100, ctx.now());
          tx.commit();
          done = true;
        });
        if (done)
          rechargePage(req, res, "充值成功：" + std::to_string(amount) + " 星豆已到账。", false);
      });

  server.Get("/tavolin/views/personalCenter/myMessage.html", [&ctx](const httplib::Request& req,
                                                                    httplib::Response& res) {
    withKey(ctx, req, res, [&](tavsrv::Connection& db, const PageKey&, const UserRow& user) {
      std::string items;
      {
        auto st = db.prepare(
            "SELECT title, content, is_read, created_ms FROM notifications WHERE user_id = ?1 "
            "ORDER BY id DESC LIMIT 100");
        st.bind(user.id);
        while (st.step()) {
          items += "<tr><td>" + std::string(st.int64(2) ? "" : "<b>[未读]</b> ") + esc(st.text(0)) +
                   "</td><td>" + esc(st.text(1)) + "</td><td>" +
                   esc(tavsrv::formatLocalTime(st.int64(3))) + "</td></tr>";
        }
      }
      db.run("UPDATE notifications SET is_read = 1 WHERE user_id = ?1 AND is_read = 0", user.id);
      sendPage(res, "我的消息",
               items.empty() ? "<p>暂无消息。</p>"
                             : "<table><tr><th>标题</th><th>内容</th><th>时间</th></tr>" + items +
                                   "</table>");
    });
  });

  server.Get("/tavolin/views/tav-smallclass/classRoom.html", [&ctx](const httplib::Request& req,
                                                                    httplib::Response& res) {
    withKey(ctx, req, res, [&](tavsrv::Connection& db, const PageKey& key, const UserRow& user) {
      if (!key.roomId) {
        sendPage(res, "班级空间",
                 roomTable(db, std::string(kRoomColumns) + "WHERE r.owner_id = ?1 ORDER BY r.id",
                           user.id));
        return;
      }
      const auto room = loadRoom(db, *key.roomId);
      const auto owner = room ? loadUser(db, room->ownerId) : std::nullopt;
      if (!room || !owner) {
        sendPage(res, "班级空间", "<p class=\"err\">班级不存在。</p>", 404);
        return;
      }
      const std::string poster = room->posterPath.empty()
                                     ? ""
                                     : "<p><img alt=\"海报\" width=\"320\" src=\"/uds/upload" +
                                           esc(room->posterPath) + "\"></p>";
      sendPage(res, room->name,
               poster + "<p>老师：" + esc(owner->displayName()) + "</p><p>" + esc(room->synopsis) +
                   "</p><p>标签：" + esc(room->tag) + "</p><p>开课时间：" + esc(room->planStart) +
                   " - " + esc(room->planEnd) + "</p><p>名额：" +
                   std::to_string(room->usableNumbers) + "</p>");
    });
  });
}

}  // namespace tavsvc
