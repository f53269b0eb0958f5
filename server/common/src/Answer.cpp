#include "tavsrv/Answer.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace tavsrv {

json ok() {
  return ok(json::object());
}

json ok(json body) {
  return json{{"code", code::kOk}, {"msg", ""}, {"body", std::move(body)}};
}

json refusal(int code, const std::string& msg) {
  return json{{"code", code}, {"msg", msg}, {"body", json::object()}};
}

std::string embedSafeText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\xEF\xBC\x82";
        break;  // U+FF02
      case '\\':
        out += "\xEF\xBC\xBC";
        break;  // U+FF3C
      case '{':
        out += "\xEF\xBD\x9B";
        break;  // U+FF5B
      case '}':
        out += "\xEF\xBD\x9D";
        break;  // U+FF5D
      default:
        if (c < 0x20 || c == 0x7F)
          out += ' ';
        else
          out += static_cast<char>(c);
    }
  }
  return out;
}

json embedSafe(const json& value) {
  if (value.is_string())
    return embedSafeText(value.get<std::string>());
  if (value.is_object()) {
    json out = json::object();
    for (auto it = value.begin(); it != value.end(); ++it)
      out[embedSafeText(it.key())] = embedSafe(it.value());
    return out;
  }
  if (value.is_array()) {
    json out = json::array();
    for (const auto& item : value)
      out.push_back(embedSafe(item));
    return out;
  }
  return value;
}

std::string embedObject(const json& object) {
  return dumpJson(embedSafe(object));
}

namespace {
void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    const size_t hit = text.find(from, pos);
    if (hit == std::string::npos)
      break;
    out.append(text, pos, hit - pos);
    out += to;
    pos = hit + from.size();
  }
  out.append(text, pos, std::string::npos);
  text.swap(out);
}
}  // namespace

std::string unnest(std::string text) {
  replaceAll(text, "\\\"", "\"");
  replaceAll(text, "\"{", "{");
  replaceAll(text, "}\"", "}");
  return text;
}

std::string dumpJson(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void sendJson(httplib::Response& res, const json& value, int httpStatus) {
  res.status = httpStatus;
  res.set_content(dumpJson(value), "application/json; charset=utf-8");
}

}  // namespace tavsrv
