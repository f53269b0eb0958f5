// One service request while its handler runs: the decoded form, a pooled store
// connection taken on first use, the caller's identity, and the checks handlers
// share. A handler refuses by throwing Refusal; the router turns it into the
// answer {"code", "msg"} and nothing the handler started is committed.
#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "Context.h"
#include "Identity.h"
#include "tavsrv/Answer.h"
#include "tavsrv/Form.h"

namespace tavsvc {

using tavsrv::json;

class Refusal : public std::runtime_error {
public:
  Refusal(int code, const std::string& msg) : std::runtime_error(msg), code(code) {}
  int code;
};

extern const char* const kNoRight;  // "没有权限！"

class Call {
public:
  Call(Context& ctx, const httplib::Request& req, tavsrv::Form form);

  Context& ctx;
  const httplib::Request& req;
  tavsrv::Form form;

  tavsrv::Connection& db();
  // Gives the connection back early (before slow work such as password hashing).
  void releaseDb() { lease_.reset(); }
  int64_t now() const { return ctx.now(); }

  // Refuses with the form's first problem, if there was one.
  void checkForm();
  const Caller& caller();
  // The caller must be allowed to act as userId.
  void requireSelf(uint32_t userId);
  // The caller must own the room, or be one of its assistants when allowed;
  // returns the user acting (the owner when several candidates qualify).
  uint32_t requireRoomManager(uint32_t roomId, bool allowAssistant);
  // Room data: the caller must be logged in and belong to the room (owner,
  // assistant or member) and must not be removed from it while the ban lasts.
  // Returns the user it belongs as.
  uint32_t requireMember(uint32_t roomId);
  // A caller removed from the room is refused while the ban lasts (for calls
  // that others, even without a ticket, may make).
  void refuseRemoved(uint32_t roomId);
  // Internal endpoints: the header X-Tav-Internal-Token must match the configured token.
  void requireInternalToken();
  // "http://host:port" as the client reached us (for absolute links in answers).
  std::string baseUrl() const;

private:
  std::optional<tavsrv::ConnectionPool::Lease> lease_;
  std::optional<Caller> caller_;
};

// The statements of a call that only reads, together (Connection::beginRead):
// on SQLite one snapshot and its file locks taken once rather than around
// every statement (the hot lists read several tables per call).
class ReadTransaction {
public:
  explicit ReadTransaction(tavsrv::Connection& db) : db_(db) { db_.beginRead(); }
  ~ReadTransaction() {
    try {
      db_.commit();
    } catch (const std::exception&) {
      try {
        db_.rollback();  // nothing was written: the pooled connection just ends it
      } catch (const std::exception&) {
      }
    }
  }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

private:
  tavsrv::Connection& db_;
};

using Handler = std::function<json(Call&)>;
// A handler that writes its successful answer's JSON text itself (hot paths);
// refusals still travel as Refusal.
using TextHandler = std::function<std::string(Call&)>;

class Router {
public:
  Router(httplib::Server& server, Context& ctx) : server_(server), ctx_(ctx) {}
  // A POST endpoint with a form body below "/" (path without the leading '/').
  // embedded: the answer holds objects as strings for the client's un-nesting.
  // The handler builds such answers with tavsrv::embedObject / embedSafe; the
  // router makes its refusals safe for the un-nesting too.
  void post(const std::string& path, Handler handler, bool embedded = false);
  void postText(const std::string& path, TextHandler handler, bool embedded = false);
  // After every route is added: the catalogue is looked up by its exact path
  // (one table lookup instead of trying each route's pattern in turn).
  void finish();

  httplib::Server& server() { return server_; }
  Context& ctx() { return ctx_; }

private:
  void add(const std::string& path, bool embedded,
           std::function<void(Call&, httplib::Response&)> answer);

  httplib::Server& server_;
  Context& ctx_;
  std::unordered_map<std::string, httplib::Server::Handler> catalogue_;
};

// Money: hundredths of a star bean in the store, a decimal number in answers.
inline double money(int64_t cents) {
  return static_cast<double>(cents) / 100.0;
}
std::string moneyText(int64_t cents);  // "985", "985.5", "0.25"

}  // namespace tavsvc
