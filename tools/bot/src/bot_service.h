// pavo-bot's way into a room through the HTTP service, as the client goes: log in with an
// account and its password (aas/service/user/login), then enter the room
// (rms/service/room/userJoinRoom, with the login's ticket), whose answer holds the room
// credential the MCU wants and the MCU's address.
#pragma once

#include <cstdint>
#include <string>

namespace bot {

struct room_entry {
  uint32_t user = 0;       // the account's id
  std::string credential;  // "room_credential"
  std::string mcu_host;    // "mcu_ip_address"
  uint16_t mcu_port = 0;   // "port"
};

// False with *error set (the service's own message where it gave one).
bool enter_room(const std::string& service_host, uint16_t service_port, const std::string& account,
                const std::string& password, uint32_t room, room_entry* out, std::string* error);

}  // namespace bot
