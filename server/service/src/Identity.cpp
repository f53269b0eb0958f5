#include "Identity.h"

#include <httplib.h>

#include <algorithm>

#include "Call.h"
#include "tavsrv/Credential.h"
#include "tavsrv/Random.h"

namespace tavsvc {

bool Caller::canActAs(uint32_t userId) const {
  return std::find(users.begin(), users.end(), userId) != users.end();
}

Caller identify(tavsrv::Connection& db, const httplib::Request& req, int64_t nowMs) {
  Caller caller;
  if (req.has_header(kTicketHeader)) {
    const std::string ticket = req.get_header_value(kTicketHeader);
    std::optional<int64_t> user;
    if (ticket.size() == 32)
      user = db.queryInt("SELECT user_id FROM tickets WHERE ticket = ?1 AND expires_ms > ?2",
                         ticket, nowMs);
    if (!user)
      throw Refusal(tavsrv::code::kNotLoggedIn, "登录已失效，请重新登录！");
    caller.viaTicket = true;
    caller.users.push_back(static_cast<uint32_t>(*user));
  }
  return caller;
}

std::string issueTicket(tavsrv::Connection& db, uint32_t userId, const std::string& remoteAddr,
                        int64_t nowMs) {
  const std::string ticket = tavsrv::randomHex(16);
  db.run("DELETE FROM tickets WHERE expires_ms <= ?1", nowMs);
  // A user keeps its newest tickets only, which also bounds the users an
  // address stands for.
  db.run(
      "DELETE FROM tickets WHERE user_id = ?1 AND ticket NOT IN "
      "(SELECT ticket FROM tickets WHERE user_id = ?1 "
      "ORDER BY created_ms DESC, seq DESC LIMIT ?2)",
      userId, kTicketsPerUser - 1);
  // seq orders logins of the same millisecond.
  db.run(
      "INSERT INTO tickets(ticket, user_id, remote_addr, created_ms, expires_ms, seq) "
      "VALUES(?1, ?2, ?3, ?4, ?5, (SELECT COALESCE(MAX(seq), 0) + 1 FROM tickets WHERE user_id = "
      "?2))",
      ticket, userId, remoteAddr, nowMs, nowMs + kTicketLifetimeMs);
  return ticket;
}

std::string issueCredential(const Context& ctx, uint32_t userId, uint32_t room, int roleCode,
                            int64_t lifetimeMs) {
  tavsrv::Credential credential;
  credential.user = userId;
  credential.room = room;
  credential.roleCode = roleCode;
  credential.expiresMs = ctx.now() + lifetimeMs;
  return tavsrv::signCredential(ctx.config.internalToken, credential);
}

std::optional<uint32_t> ticketOwner(tavsrv::Connection& db, const std::string& ticket,
                                    int64_t nowMs) {
  if (ticket.size() != 32)
    return std::nullopt;
  const auto owner = db.queryInt(
      "SELECT user_id FROM tickets WHERE ticket = ?1 AND expires_ms > ?2", ticket, nowMs);
  if (!owner)
    return std::nullopt;
  return static_cast<uint32_t>(*owner);
}

bool ticketBelongsTo(tavsrv::Connection& db, const std::string& ticket, uint32_t userId,
                     int64_t nowMs) {
  const auto owner = ticketOwner(db, ticket, nowMs);
  return owner && *owner == userId;
}

}  // namespace tavsvc
