#include "platform/platform.h"

#include <windows.h>

#include <shlobj.h>

#include "utf8.h"

namespace platform {
namespace {

std::string shellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
    return {};
  return win::withForwardSlashes(win::toUtf8(path));
}

std::string environmentVariable(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD size = GetEnvironmentVariableW(name, value, MAX_PATH);
  if (size == 0 || size >= MAX_PATH)
    return {};
  return win::toUtf8(value);
}

}  // namespace

std::string userDataDir() {
  std::string home = shellFolder(CSIDL_PROFILE);
  if (home.empty())
    home = win::withForwardSlashes(environmentVariable(L"USERPROFILE"));
  if (!home.empty() && home.back() == '/')
    home.pop_back();  // A profile at a drive root, "C:/".
  return home + "/AppData/Local/TavPcClient/";
}

std::string localAppDataDir() {
  return shellFolder(CSIDL_LOCAL_APPDATA);
}

std::string picturesDir() {
  return shellFolder(CSIDL_MYPICTURES);
}

}  // namespace platform
