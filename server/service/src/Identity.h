// Who is calling. The catalogue's form bodies carry no login ticket, so the
// caller is named by the header "X-Tav-Ticket: <ticketId>" (a live ticket from
// login); an unknown or expired ticket is refused, and a call without the
// header has no caller: whatever needs a user refuses it. (The network address
// names nobody: behind a NAT or a proxy it is everybody's.)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tavsrv/Database.h"

namespace httplib {
struct Request;
}

namespace tavsvc {

constexpr int64_t kTicketLifetimeMs = 7LL * 24 * 3600 * 1000;
constexpr int kTicketsPerUser = 20;  // older ones are dropped at login
constexpr const char* kTicketHeader = "X-Tav-Ticket";
constexpr const char* kInternalTokenHeader = "X-Tav-Internal-Token";

struct Caller {
  bool viaTicket = false;
  std::vector<uint32_t> users;  // the ticket's user; empty without a ticket

  bool known() const { return !users.empty(); }
  bool canActAs(uint32_t userId) const;
};

// Throws Refusal(401) when the ticket header is present but not valid.
Caller identify(tavsrv::Connection& db, const httplib::Request& req, int64_t nowMs);

std::string issueTicket(tavsrv::Connection& db, uint32_t userId, const std::string& remoteAddr,
                        int64_t nowMs);
// A signed credential for the message server and the MCU: userId may use room
// (a room id, or the one-login channel) with roleCode for lifetimeMs (a room's
// for a day's classes; the one-login channel's as long as the login's ticket,
// since the lobby reconnects with it). Empty when the service has no internal
// token to sign with.
constexpr int64_t kCredentialLifetimeMs = 12LL * 3600 * 1000;
struct Context;
std::string issueCredential(const Context& ctx, uint32_t userId, uint32_t room, int roleCode,
                            int64_t lifetimeMs = kCredentialLifetimeMs);

// The user of a live ticket.
std::optional<uint32_t> ticketOwner(tavsrv::Connection& db, const std::string& ticket,
                                    int64_t nowMs);
bool ticketBelongsTo(tavsrv::Connection& db, const std::string& ticket, uint32_t userId,
                     int64_t nowMs);

}  // namespace tavsvc
