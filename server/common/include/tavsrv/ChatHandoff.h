// What the message server and the service agree on when a chat goes to the
// history (POST internal/chatRecord/add): how long a chat may be and how its
// text travels, so that every chat the message server lets through fits what
// the service takes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavsrv {

// The longest chat text, in bytes of UTF-8 (so also at most this many characters).
constexpr std::size_t kMaxChatBytes = 6000;
// The text travels as the form field "content64", base64url without padding:
// unreserved characters only, 4/3 of its size whatever its characters
// (percent-encoding triples every byte of a Chinese character, and 900 of them
// no longer fit the form).
constexpr std::size_t kMaxChatEncoded = (kMaxChatBytes * 4 + 2) / 3;
// The whole form: the text and the short fields beside it (room and user of
// 10 digits, type of 2, a version of at most 64 digits and dots, their names
// and separators: 133 bytes).
constexpr std::size_t kMaxChatForm = kMaxChatEncoded + 160;
// The service's default form limit (ServiceConfig::formLimit) takes it.
static_assert(kMaxChatForm <= 8192, "a chat of kMaxChatBytes must fit the service's form");

std::string encodeChatText(std::string_view text);
// The text, or nullopt when encoded is no base64url or says more than kMaxChatBytes.
std::optional<std::string> decodeChatText(std::string_view encoded);

}  // namespace tavsrv
