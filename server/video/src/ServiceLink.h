// What the video server asks of the service: whether a room has a courseware of a name
// (the public lookup), and the registration of a published recording (an internal call,
// with the internal token).
#pragma once

#include <cstdint>
#include <string>

#include "DescriptionTag.h"

namespace video {

class ServiceLink {
public:
  ServiceLink(std::string serviceUrl, std::string internalToken);

  enum class Name { free, taken, unknown };
  Name nameState(uint32_t room, const std::string& name) const;

  struct Registration {
    bool reached = false;  // the service answered
    int code = -1;         // its code: 0 registered
    std::string message;   // its refusal text
    int64_t id = 0;        // the courseware's id
  };
  // playInfo: the JSON array of {"Definition","PlayURL"}.
  Registration registerCourseware(const DescriptionTag& tag, const std::string& playInfo) const;

private:
  const std::string url_;
  const std::string token_;
};

}  // namespace video
