#include "bot_service.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

namespace bot {

namespace {

using json = nlohmann::json;

// One form POST; the answer's JSON when it says code 0.
bool post(httplib::Client& client, const std::string& path, const httplib::Headers& headers,
          const httplib::Params& form, json* answer, std::string* error) {
  const auto result = client.Post(path, headers, form);
  if (!result) {
    *error = path + ": no answer from the service (" + httplib::to_string(result.error()) + ")";
    return false;
  }
  if (result->status != 200) {
    *error = path + ": HTTP " + std::to_string(result->status);
    return false;
  }
  *answer = json::parse(result->body, nullptr, false);
  if (!answer->is_object()) {
    *error = path + ": the answer is no JSON object";
    return false;
  }
  const json code = answer->value("code", json());
  if (!code.is_number_integer() || code.get<int64_t>() != 0) {
    const json message = answer->value("msg", json());
    *error = path + ": refused" + (message.is_string() ? ": " + message.get<std::string>() : "");
    return false;
  }
  return true;
}

}  // namespace

bool enter_room(const std::string& service_host, uint16_t service_port, const std::string& account,
                const std::string& password, uint32_t room, room_entry* out, std::string* error) {
  httplib::Client client(service_host, service_port);
  client.set_connection_timeout(10);
  client.set_read_timeout(30);

  json login;
  if (!post(client, "/aas/service/user/login", {}, {{"userName", account}, {"userPwd", password}},
            &login, error))
    return false;
  // The user object comes as a JSON text inside the answer.
  const json body_text = login.value("body", json());
  const json user =
      body_text.is_string() ? json::parse(body_text.get<std::string>(), nullptr, false) : json();
  const json id = user.is_object() ? user.value("globalId", json()) : json();
  const json ticket = user.is_object() ? user.value("ticketId", json()) : json();
  if (!id.is_number_unsigned() || id.get<uint64_t>() > 0xFFFFFFFFu || !ticket.is_string()) {
    *error = "the login answer holds no user id and ticket";
    return false;
  }
  out->user = id.get<uint32_t>();

  json entry;
  if (!post(client, "/rms/service/room/userJoinRoom", {{"X-Tav-Ticket", ticket.get<std::string>()}},
            {{"roomId", std::to_string(room)}, {"globalId", std::to_string(out->user)}}, &entry,
            error))
    return false;
  const json credential = entry.value("room_credential", json());
  const json host = entry.value("mcu_ip_address", json());
  const json port = entry.value("port", json());
  if (!credential.is_string() || credential.get<std::string>().empty()) {
    *error = "the room entry holds no room credential";
    return false;
  }
  out->credential = credential.get<std::string>();
  if (host.is_string())
    out->mcu_host = host.get<std::string>();
  if (port.is_number_unsigned() && port.get<uint64_t>() > 0 && port.get<uint64_t>() <= 65535)
    out->mcu_port = port.get<uint16_t>();
  return true;
}

}  // namespace bot
