#include "ServiceLink.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "tavsrv/Form.h"

namespace video {

namespace {

using json = nlohmann::json;

// The service answers within this time or is taken as unreachable.
constexpr time_t kTimeoutSeconds = 10;

std::string field(const char* name, const std::string& value) {
  return std::string(name) + "=" + tavsrv::percentEncode(value);
}

}  // namespace

ServiceLink::ServiceLink(std::string serviceUrl, std::string internalToken)
    : url_(std::move(serviceUrl)), token_(std::move(internalToken)) {}

ServiceLink::Name ServiceLink::nameState(uint32_t room, const std::string& name) const {
  httplib::Client client(url_);
  client.set_connection_timeout(kTimeoutSeconds);
  client.set_read_timeout(kTimeoutSeconds);
  const std::string body =
      field("roomId", std::to_string(room)) + "&" + field("coursewareName", name);
  const auto res =
      client.Post("/rms/service/courseware/findbyName", body, "application/x-www-form-urlencoded");
  if (!res || res->status != 200)
    return Name::unknown;
  const json answer = json::parse(res->body, nullptr, false);
  if (!answer.is_object() || !answer.contains("code") || !answer["code"].is_number_integer())
    return Name::unknown;
  const int code = answer["code"].get<int>();
  return code == 0 ? Name::taken : code == 404 ? Name::free : Name::unknown;
}

ServiceLink::Registration ServiceLink::registerCourseware(const DescriptionTag& tag,
                                                          const std::string& playInfo) const {
  httplib::Client client(url_);
  client.set_connection_timeout(kTimeoutSeconds);
  client.set_read_timeout(kTimeoutSeconds);
  const std::string body =
      field("roomId", std::to_string(tag.room)) + "&" +
      field("globalId", std::to_string(tag.user)) + "&" + field("coursewareName", tag.name) + "&" +
      field("price", std::to_string(tag.price)) + "&" + field("description", tag.description) +
      "&" + field("grade", tag.grade) + "&" + field("playInfo", playInfo);
  const auto res =
      client.Post("/internal/courseware/add", httplib::Headers{{"X-Tav-Internal-Token", token_}},
                  body, "application/x-www-form-urlencoded");
  Registration r;
  if (!res)
    return r;
  const json answer = json::parse(res->body, nullptr, false);
  if (!answer.is_object() || !answer.contains("code") || !answer["code"].is_number_integer())
    return r;
  r.reached = true;
  r.code = answer["code"].get<int>();
  r.message = answer.value("msg", "");
  if (r.code == 0 && answer.contains("body") && answer["body"].is_object())
    r.id = answer["body"].value("id", int64_t{0});
  return r;
}

}  // namespace video
