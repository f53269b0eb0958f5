#include "tavsrv/Form.h"

namespace tavsrv {

namespace {
int hexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool parseDecimal(const std::string& text, uint64_t limit, uint64_t* out) {
  if (text.empty() || text.size() > 19)
    return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > limit)
      return false;
  }
  *out = value;
  return true;
}
}  // namespace

std::optional<std::string> percentDecode(std::string_view text, bool plusIsBlank) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size())
        return std::nullopt;
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high < 0 || low < 0)
        return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c == '+' && plusIsBlank) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

std::string percentEncode(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool isValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size())
      return false;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return false;
    i += extra + 1;
  }
  return true;
}

size_t utf8Length(std::string_view text) {
  size_t count = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80)
      ++count;
  return count;
}

std::optional<Form> Form::parse(std::string_view body, std::string* error) {
  Form form;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos)
      end = body.size();
    const std::string_view pair = body.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) {
      if (end == body.size())
        break;
      continue;
    }
    if (form.fields_.size() >= kMaxFields) {
      *error = "请求参数过多！";
      return std::nullopt;
    }
    const size_t eq = pair.find('=');
    const auto name = percentDecode(pair.substr(0, eq), true);
    const auto value = eq == std::string_view::npos ? std::optional<std::string>("")
                                                    : percentDecode(pair.substr(eq + 1), true);
    if (!name || !value || name->empty()) {
      *error = "请求参数格式错误！";
      return std::nullopt;
    }
    if (!isValidUtf8(*name) || !isValidUtf8(*value) || value->find('\0') != std::string::npos ||
        name->find('\0') != std::string::npos) {
      *error = "请求参数编码错误！";
      return std::nullopt;
    }
    // A repeated name keeps its first value: later copies cannot override it.
    form.fields_.emplace(*name, *value);
    if (end == body.size())
      break;
  }
  return form;
}

const std::string* Form::find(const std::string& name) const {
  auto found = fields_.find(name);
  return found == fields_.end() ? nullptr : &found->second;
}

const std::string* Form::need(const std::string& name) {
  const std::string* value = find(name);
  if (!value)
    fail("缺少参数：" + name);
  return value;
}

uint32_t Form::id(const std::string& name) {
  const std::string* value = need(name);
  if (!value)
    return 0;
  uint64_t parsed = 0;
  if (!parseDecimal(*value, 0xFFFFFFFFull, &parsed) || parsed == 0) {
    fail("参数格式错误：" + name);
    return 0;
  }
  return static_cast<uint32_t>(parsed);
}

std::optional<uint32_t> Form::optionalId(const std::string& name) {
  if (!has(name))
    return std::nullopt;
  const uint32_t value = id(name);
  if (value == 0)
    return std::nullopt;
  return value;
}

int64_t Form::integer(const std::string& name, int64_t min, int64_t max) {
  const std::string* value = need(name);
  if (!value)
    return min;
  std::string digits = *value;
  bool negative = false;
  if (!digits.empty() && digits[0] == '-') {
    negative = true;
    digits.erase(0, 1);
  }
  uint64_t parsed = 0;
  if (!parseDecimal(digits, 0x7FFFFFFFFFFFFFFFull, &parsed)) {
    fail("参数格式错误：" + name);
    return min;
  }
  const int64_t result = negative ? -static_cast<int64_t>(parsed) : static_cast<int64_t>(parsed);
  if (result < min || result > max) {
    fail("参数超出范围：" + name);
    return min;
  }
  return result;
}

std::optional<int64_t> Form::optionalInteger(const std::string& name, int64_t min, int64_t max) {
  if (!has(name) || find(name)->empty())
    return std::nullopt;
  const bool before = ok();
  const int64_t value = integer(name, min, max);
  if (before && !ok())
    return std::nullopt;
  return value;
}

double Form::number(const std::string& name, double max) {
  const std::string* value = need(name);
  if (!value)
    return 0;
  const std::string& text = *value;
  bool dot = false;
  bool digit = false;
  for (char c : text) {
    if (c == '.' && !dot) {
      dot = true;
    } else if (c >= '0' && c <= '9') {
      digit = true;
    } else {
      digit = false;
      break;
    }
  }
  if (!digit || text.size() > 20) {
    fail("参数格式错误：" + name);
    return 0;
  }
  const double result = std::stod(text);
  if (result > max) {
    fail("参数超出范围：" + name);
    return 0;
  }
  return result;
}

std::string Form::text(const std::string& name, size_t maxChars, size_t minChars) {
  const std::string* value = need(name);
  if (!value)
    return std::string();
  const size_t length = utf8Length(*value);
  if (length < minChars) {
    fail(minChars == 1 ? "参数不能为空：" + name : "参数过短：" + name);
    return std::string();
  }
  if (length > maxChars) {
    fail("参数过长：" + name);
    return std::string();
  }
  return *value;
}

std::optional<std::string> Form::optionalText(const std::string& name, size_t maxChars) {
  if (!has(name))
    return std::nullopt;
  return text(name, maxChars, 0);
}

}  // namespace tavsrv
