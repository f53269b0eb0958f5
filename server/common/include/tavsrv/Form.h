// application/x-www-form-urlencoded bodies: "name=value&name=value", values
// percent-encoded ('+' is a blank). Decoding is strict: a bad escape, invalid
// UTF-8, a NUL byte or too many fields refuse the whole body. The typed getters
// record the first problem as a message the user can read (Chinese, like every
// text the service shows) and return a harmless default, so a handler reads all
// fields and then checks ok() once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tavsrv {

// Percent-decoding; nullopt on a malformed escape.
std::optional<std::string> percentDecode(std::string_view text, bool plusIsBlank);
std::string percentEncode(std::string_view text);
bool isValidUtf8(std::string_view text);
// Number of characters (code points) of valid UTF-8 text.
size_t utf8Length(std::string_view text);

class Form {
public:
  static constexpr size_t kMaxFields = 64;

  // Empty body gives an empty form. On failure *error holds the reason.
  static std::optional<Form> parse(std::string_view body, std::string* error);

  bool has(const std::string& name) const { return fields_.count(name) != 0; }
  const std::string* find(const std::string& name) const;

  // Required id: a decimal number from 1 to 4294967295.
  uint32_t id(const std::string& name);
  std::optional<uint32_t> optionalId(const std::string& name);
  // Required whole number in [min, max].
  int64_t integer(const std::string& name, int64_t min, int64_t max);
  std::optional<int64_t> optionalInteger(const std::string& name, int64_t min, int64_t max);
  // Required decimal number (digits, one optional '.'), 0 <= value <= max.
  double number(const std::string& name, double max);
  // Required text of 1..maxChars characters (minChars 0 allows an empty value).
  std::string text(const std::string& name, size_t maxChars, size_t minChars = 1);
  std::optional<std::string> optionalText(const std::string& name, size_t maxChars);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  void fail(const std::string& message) {
    if (error_.empty())
      error_ = message;
  }

private:
  const std::string* need(const std::string& name);

  std::map<std::string, std::string> fields_;
  std::string error_;
};

}  // namespace tavsrv
