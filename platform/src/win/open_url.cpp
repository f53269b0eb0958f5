#include "platform/platform.h"

#include <windows.h>

#include <shellapi.h>

#include "utf8.h"

namespace platform {

bool openUrl(const std::string& url) {
  if (url.empty())
    return false;
  const std::wstring wideUrl = win::toWide(url);
  HINSTANCE result =
      ShellExecuteW(nullptr, L"open", wideUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  // Values up to 32 are error codes.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace platform
