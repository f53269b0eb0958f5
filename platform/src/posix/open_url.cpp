#include "platform/platform.h"

namespace platform {

bool openUrl(const std::string& url) {
  if (url.empty())
    return false;
  // xdg-open picks the desktop's handler; it is not waited for, as it may
  // stay until the browser closes.
  return startDetached("xdg-open", {url});
}

}  // namespace platform
