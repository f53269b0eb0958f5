// Creating accounts (demo seed and the registration page).
#pragma once

#include <optional>
#include <string>

#include "Passwords.h"
#include "tavsrv/Database.h"

namespace tavsvc {

struct NewAccount {
  std::string userName;  // 3..20 of A-Z a-z 0-9 _
  std::string password;  // 6..32 characters
  std::string nickName;  // 1..20 characters, no quote, backslash, brace or control character
  std::string phone;     // empty or 11 digits
  std::string roleName = "学生";
  std::string imagePath;
  int level = 1;
  int64_t balanceCents = 0;
  std::optional<uint32_t> orgId;
  std::optional<uint32_t> linkedUserId;
  std::optional<uint32_t> id;  // a chosen id (demo data), else the next free one
};

// The reason the account cannot be made (Chinese, for the user), empty when fine.
std::string checkNewAccount(const NewAccount& account);
// Hashes and stores; returns the new id. Throws Refusal on invalid input or a
// taken user name.
uint32_t createAccount(tavsrv::Connection& db, PasswordHasher& hasher, const NewAccount& account,
                       int64_t nowMs);

}  // namespace tavsvc
