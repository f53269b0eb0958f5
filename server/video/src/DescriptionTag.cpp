#include "DescriptionTag.h"

#include <charconv>
#include <map>

#include "tavsrv/Form.h"

namespace video {

namespace {

bool readNumber(const std::string& text, int64_t max, int64_t* out) {
  if (text.empty() || text.size() > 10)
    return false;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > max)
    return false;
  *out = value;
  return true;
}

// A display text of at most maxChars characters: valid UTF-8 without control characters.
bool plainText(const std::string& text, size_t maxChars) {
  if (!tavsrv::isValidUtf8(text) || tavsrv::utf8Length(text) > maxChars)
    return false;
  for (const unsigned char ch : text)
    if (ch < 0x20 || ch == 0x7f)
      return false;
  return true;
}

}  // namespace

std::optional<DescriptionTag> parseDescriptionTag(std::string_view text, std::string* why) {
  if (text.empty() || text.size() > kMaxTagBytes) {
    *why = "the tag is empty or too long";
    return std::nullopt;
  }
  static const char* const kKeys[] = {"roomId", "globalId",    "coursewareName",
                                      "price",  "description", "grade"};
  std::map<std::string, std::string> fields;
  size_t start = 0;
  for (size_t index = 0; index < 6; ++index) {
    const size_t comma = text.find(',', start);
    const bool last = index == 5;
    if (last != (comma == std::string_view::npos)) {
      *why = "the tag does not have six fields";
      return std::nullopt;
    }
    const std::string_view field =
        text.substr(start, last ? std::string_view::npos : comma - start);
    const size_t equals = field.find('=');
    if (equals == std::string_view::npos || field.substr(0, equals) != kKeys[index]) {
      *why = std::string("the tag's field ") + kKeys[index] + " is missing";
      return std::nullopt;
    }
    fields[kKeys[index]] = std::string(field.substr(equals + 1));
    start = comma + 1;
  }
  DescriptionTag tag;
  int64_t number = 0;
  if (!readNumber(fields["roomId"], 0xffffffffLL, &number) || number == 0) {
    *why = "bad roomId";
    return std::nullopt;
  }
  tag.room = static_cast<uint32_t>(number);
  if (!readNumber(fields["globalId"], 0xffffffffLL, &number) || number == 0) {
    *why = "bad globalId";
    return std::nullopt;
  }
  tag.user = static_cast<uint32_t>(number);
  if (!readNumber(fields["price"], 1000000, &tag.price)) {
    *why = "bad price";
    return std::nullopt;
  }
  tag.name = fields["coursewareName"];
  tag.description = fields["description"];
  tag.grade = fields["grade"];
  if (tag.name.empty() || !plainText(tag.name, 20) || !plainText(tag.description, 50) ||
      !plainText(tag.grade, 20)) {
    *why = "a text of the tag is empty, too long or not plain text";
    return std::nullopt;
  }
  return tag;
}

}  // namespace video
