#include "pavo_log.h"

#include <string>
#include <system_error>

#if __has_include(<filesystem>)
#include <filesystem>
#endif

#include "platform/platform.h"
#include "woblog/woblog.h"

namespace pavo {

void start_log() {
  std::string dir = platform::localAppDataDir();
  if (dir.empty())
    return;
  dir += "/wobl";
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  qn::log_init((dir + "/wobl.log").c_str());
}

}  // namespace pavo
