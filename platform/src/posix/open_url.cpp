#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

bool onPath(const std::string& name) {
  const char* path = getenv("PATH");
  if (!path)
    return false;
  std::string dirs(path);
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t colon = dirs.find(':', start);
    const std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos
                                                                         : colon - start);
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0)
      return true;
    if (colon == std::string::npos)
      break;
    start = colon + 1;
  }
  return false;
}

// Whether xdg-open has anything to hand a web address to: a browser named in
// $BROWSER, a desktop default for http, or one of the usual browsers. Without
// one, xdg-open starts and fails later where nobody sees it.
bool haveBrowser() {
  if (const char* browser = getenv("BROWSER"); browser && *browser)
    return true;
  if (FILE* query = popen("xdg-mime query default x-scheme-handler/http 2>/dev/null", "r")) {
    char line[256] = {};
    const bool named = fgets(line, sizeof line, query) && line[0] != '\n' && line[0] != '\0';
    pclose(query);
    if (named)
      return true;
  }
  for (const char* name : {"x-www-browser", "sensible-browser", "firefox", "firefox-esr",
                           "chromium", "google-chrome", "epiphany"})
    if (onPath(name))
      return true;
  return false;
}

bool isWebAddress(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

}  // namespace

bool openUrl(const std::string& url) {
  if (url.empty() || !onPath("xdg-open"))
    return false;
  if (isWebAddress(url) && !haveBrowser())
    return false;
  // xdg-open picks the desktop's handler; it is not waited for, as it may
  // stay until the browser closes.
  return startDetached("xdg-open", {url});
}

}  // namespace platform
