// The description a recording arrives with, as the publishing dialog builds it:
// "roomId=R,globalId=U,coursewareName=N,price=P,description=D,grade=G", the user's
// texts with their ASCII commas replaced by full-width ones, so the commas left
// separate the fields. Untrusted: every field is checked here before anything is
// done with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace video {

struct DescriptionTag {
  uint32_t room = 0;
  uint32_t user = 0;
  std::string name;         // 1..20 characters
  int64_t price = 0;        // whole star beans, 0..1000000
  std::string description;  // at most 50 characters
  std::string grade;        // at most 20 characters
};

// Longest tag taken (the texts' limits in UTF-8, with the keys, leave room to spare).
constexpr size_t kMaxTagBytes = 1024;

// The tag, or nothing with *why saying what is wrong.
std::optional<DescriptionTag> parseDescriptionTag(std::string_view text, std::string* why);

}  // namespace video
