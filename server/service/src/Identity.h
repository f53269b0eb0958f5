// Who is calling. The catalogue's form bodies carry no login ticket, so the
// service recognises the caller in one of two ways:
//  1. the header "X-Tav-Ticket: <ticketId>" (a live ticket from login) names the
//     caller exactly; an unknown or expired ticket is refused;
//  2. without the header, the callers are the users holding a live ticket that
//     was issued to a login from the same network address as this request.
// An action then passes when the user it acts for (or, for room management, any
// of the candidate users) has the right.
#pragma once

#include <cstdint>
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
  std::vector<uint32_t> users;  // the ticket's user, or the users logged in from the address

  bool known() const { return !users.empty(); }
  bool canActAs(uint32_t userId) const;
};

// Throws Refusal(401) when the ticket header is present but not valid.
Caller identify(tavsrv::Connection& db, const httplib::Request& req, int64_t nowMs);

std::string issueTicket(tavsrv::Connection& db, uint32_t userId, const std::string& remoteAddr,
                        int64_t nowMs);
// A signed credential for the message server and the MCU: userId may use room
// (a room id, or the one-login channel) with roleCode for kCredentialLifetimeMs.
// Empty when the service has no internal token to sign with.
constexpr int64_t kCredentialLifetimeMs = 12LL * 3600 * 1000;
struct Context;
std::string issueCredential(const Context& ctx, uint32_t userId, uint32_t room, int roleCode);

bool ticketBelongsTo(tavsrv::Connection& db, const std::string& ticket, uint32_t userId,
                     int64_t nowMs);

}  // namespace tavsvc
