#include "Accounts.h"

#include <cctype>

#include "Call.h"
#include "Domain.h"
#include "tavsrv/Form.h"

namespace tavsvc {

std::string checkNewAccount(const NewAccount& a) {
  if (a.userName.size() < 3 || a.userName.size() > 20)
    return "用户名须为3到20个字符！";
  for (char c : a.userName)
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '_'))
      return "用户名只能包含字母、数字和下划线！";
  const size_t pwLength = tavsrv::utf8Length(a.password);
  if (!tavsrv::isValidUtf8(a.password) || pwLength < 6 || pwLength > 32)
    return "密码须为6到32个字符！";
  if (!isSafeDisplayText(a.nickName, 20))
    return "昵称须为1到20个字符，且不能包含引号、反斜杠或花括号！";
  if (!a.phone.empty()) {
    if (a.phone.size() != 11)
      return "手机号码格式不正确！";
    for (char c : a.phone)
      if (c < '0' || c > '9')
        return "手机号码格式不正确！";
  }
  return std::string();
}

uint32_t createAccount(tavsrv::Connection& db, PasswordHasher& hasher, const NewAccount& a,
                       int64_t nowMs) {
  const std::string problem = checkNewAccount(a);
  if (!problem.empty())
    throw Refusal(tavsrv::code::kBadRequest, problem);
  const std::string hash = hasher.hash(a.password);
  if (hash.empty())
    throw Refusal(tavsrv::code::kInternal, "服务器繁忙，请稍后重试！");
  try {
    // Without a chosen id the store gives the next one (the column is left out:
    // an explicit NULL takes no id from PostgreSQL's sequence).
    const std::string columns =
        "user_name, nick_name, phone, pwd_hash, role_name, image_path, level, balance_cents, "
        "org_id, linked_user_id, created_ms";
    auto st =
        db.prepare(a.id ? "INSERT INTO users(" + columns +
                              ", id) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"
                        : "INSERT INTO users(" + columns +
                              ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
    st.bind(a.userName, a.nickName, a.phone, hash, a.roleName, a.imagePath, a.level, a.balanceCents,
            a.orgId ? std::optional<int64_t>(*a.orgId) : std::nullopt,
            a.linkedUserId ? std::optional<int64_t>(*a.linkedUserId) : std::nullopt, nowMs);
    if (a.id)
      st.bindOne(12, *a.id);
    st.run();
  } catch (const tavsrv::DbError& error) {
    if (error.constraint())
      throw Refusal(tavsrv::code::kFailed, "该用户名已被注册！");
    throw;
  }
  return a.id ? *a.id : static_cast<uint32_t>(db.lastInsertId());
}

}  // namespace tavsvc
