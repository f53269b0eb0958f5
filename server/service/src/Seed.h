// Demo data for a new, empty store: fixed accounts (password "123456"), rooms in
// every status, gifts and medals with pictures, bulletins, an announcement,
// courseware, chat history and a client version.
#pragma once

#include <string>
#include <vector>

#include "Passwords.h"
#include "tavsrv/Database.h"

namespace tavsvc {

constexpr const char* kDemoPassword = "123456";

struct DemoAccount {
  uint32_t id;
  const char* userName;
  const char* nickName;
  const char* roleName;
  const char* what;  // one line for the launcher's banner
};
const std::vector<DemoAccount>& demoAccounts();

// The demo courseware videos, below the uploads folder.
std::vector<std::string> demoVideoPaths();

// True when the store holds no user yet.
bool storeIsEmpty(tavsrv::Connection& db);
// Writes the demo rows and the pictures below uploadsDir; false when the store
// was no longer empty (another node seeded it meanwhile). Throws on failure.
bool seedDemoData(tavsrv::Connection& db, PasswordHasher& hasher, const std::string& uploadsDir,
                  int64_t nowMs);

}  // namespace tavsvc
