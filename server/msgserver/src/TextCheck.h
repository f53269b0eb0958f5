// What the server needs to know about a send's text before relaying it: is it
// a room message at all, is it chat, and does it claim another sender. Read as
// the receiving clients read it: a JSON object, "typeId" a string of decimal
// digits, "sendUserId" a number or a string of decimal digits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace msgserver {

struct TextFacts {
  // A JSON object without NUL bytes (receivers stop reading at the first one).
  bool object = false;
  // Top-level "typeId" keys: more than one leaves open which one a receiver reads.
  int type_ids = 0;
  // "0", "10" or "20" (written as receivers read the digits) for the chat types
  // that go to the history (roomwire); empty for every other text.
  std::optional<std::string> chat_type;
  // A top-level "sendUserId" that does not name the user the text was checked for.
  bool foreign_sender = false;
};

// Linear in the text, without building the JSON tree; never throws.
TextFacts inspect_text(std::string_view text, std::uint32_t user);

}  // namespace msgserver
