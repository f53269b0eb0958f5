// JSON answers in the service's common shape: {"code", "msg", "body"}.
#pragma once

// The declarations only: most users of this header build JSON and include
// <nlohmann/json.hpp> themselves (it is precompiled for the server targets).
#include <nlohmann/json_fwd.hpp>

#include <string>

namespace httplib {
struct Response;
}

namespace tavsrv {

using json = nlohmann::json;

// Codes shared by every JSON answer; 0 is success, anything else is refused and
// "msg" says why in words the user can read.
namespace code {
constexpr int kOk = 0;
constexpr int kNotPresent = -1;  // heartbeat: the member is no longer counted present
constexpr int kFailed = 1;       // a rule of the domain said no (wrong password, balance, ...)
constexpr int kBadRequest = 400;
constexpr int kNotLoggedIn = 401;
constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kTooLarge = 413;
constexpr int kInternal = 500;
}  // namespace code

json ok();  // with an empty object as the body
json ok(json body);
json refusal(int code, const std::string& msg);

// Some answers carry an object as a JSON text inside a string, for clients that
// un-nest it with three textual replacements (\" -> ", "{ -> {, }" -> }). That only
// yields valid JSON when no text inside holds a quote, a backslash, a brace or a
// control character, so every string is made safe first (full-width look-alikes).
std::string embedSafeText(const std::string& text);
json embedSafe(const json& value);            // embedSafeText on every string, recursively
std::string embedObject(const json& object);  // embedSafe + dump, ready to be put in a string
// The three replacements, as the client does them (used by tests and tools).
std::string unnest(std::string text);

// Serialises compactly; invalid UTF-8 never reaches the wire.
std::string dumpJson(const json& value);
void sendJson(httplib::Response& res, const json& value, int httpStatus = 200);

}  // namespace tavsrv
