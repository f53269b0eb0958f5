#include "TextCheck.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "roomwire/room_message.h"

namespace msgserver {

namespace {

using json = nlohmann::json;

// Receivers take 1..10 decimal digits (leading zeros too) and nothing else.
std::optional<std::uint64_t> decimal_digits(const std::string& text) {
  if (text.empty() || text.size() > 10)
    return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// Looks only at the members of the top-level object; deeper values pass by.
class Inspector : public nlohmann::json_sax<json> {
public:
  explicit Inspector(std::uint32_t user) : user_(user) {}

  bool null() override { return scalar_other(); }
  bool boolean(bool) override { return scalar_other(); }
  bool number_integer(json::number_integer_t v) override {
    return number(static_cast<long double>(v));
  }
  bool number_unsigned(json::number_unsigned_t v) override {
    return number(static_cast<long double>(v));
  }
  bool number_float(json::number_float_t v, const json::string_t&) override {
    return number(static_cast<long double>(v));
  }
  bool string(json::string_t& v) override {
    if (depth_ == 0)
      return false;  // a bare string is no room message
    if (depth_ == 1 && member_ == Member::type_id) {
      const auto value = decimal_digits(v);
      if (value && roomwire::is_chat_type(static_cast<long long>(*value)))
        facts.chat_type = std::to_string(*value);
    } else if (depth_ == 1 && member_ == Member::sender) {
      const auto value = decimal_digits(v);
      if (!value || *value != user_)
        facts.foreign_sender = true;
    }
    member_ = Member::other;
    return true;
  }
  bool binary(json::binary_t&) override { return false; }
  bool start_object(std::size_t) override {
    if (depth_ == 0) {
      if (seen_top_)
        return false;
      seen_top_ = true;
    } else {
      nested_member();
    }
    ++depth_;
    return true;
  }
  bool key(json::string_t& k) override {
    member_ = Member::other;
    if (depth_ == 1) {
      if (k == roomwire::kTypeId) {
        member_ = Member::type_id;
        ++facts.type_ids;
      } else if (k == roomwire::kSendUserId) {
        member_ = Member::sender;
      }
    }
    return true;
  }
  bool end_object() override {
    --depth_;
    return true;
  }
  bool start_array(std::size_t) override {
    if (depth_ == 0)
      return false;
    nested_member();
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

  TextFacts facts;

private:
  enum class Member { other, type_id, sender };

  bool scalar_other() {
    if (depth_ == 0)
      return false;
    nested_member();
    return true;
  }
  bool number(long double v) {
    if (depth_ == 0)
      return false;
    if (depth_ == 1 && member_ == Member::sender) {
      // Receivers take any integral number, 42.0 as well as 42.
      if (!std::isfinite(v) || v != static_cast<long double>(user_))
        facts.foreign_sender = true;
    }
    member_ = Member::other;
    return true;
  }
  // A sendUserId that is no number or digits at all is not the sender's either.
  void nested_member() {
    if (depth_ == 1 && member_ == Member::sender)
      facts.foreign_sender = true;
    member_ = Member::other;
  }

  const std::uint32_t user_;
  int depth_ = 0;
  bool seen_top_ = false;
  Member member_ = Member::other;
};

}  // namespace

TextFacts inspect_text(std::string_view text, std::uint32_t user) {
  if (text.find('\0') != std::string_view::npos)
    return {};
  Inspector inspector(user);
  bool ok = false;
  try {
    ok = json::sax_parse(text.begin(), text.end(), &inspector);
  } catch (...) {
    ok = false;
  }
  if (!ok)
    return {};
  TextFacts facts = inspector.facts;
  facts.object = true;
  return facts;
}

}  // namespace msgserver
