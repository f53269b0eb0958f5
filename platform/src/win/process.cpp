#include "platform/platform.h"

#include <windows.h>

#include <tlhelp32.h>

#include "utf8.h"

namespace platform {
namespace {

std::wstring programOf(HANDLE process) {
  wchar_t path[MAX_PATH * 4];
  DWORD size = sizeof path / sizeof path[0];
  return QueryFullProcessImageNameW(process, 0, path, &size) ? std::wstring(path, size)
                                                             : std::wstring();
}

std::wstring fullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameW(path.c_str(), sizeof full / sizeof full[0], full, nullptr);
  return n > 0 ? std::wstring(full, n) : path;
}

bool sameUser(HANDLE process) {
  auto sidOf = [](HANDLE p, std::vector<unsigned char>& out) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(p, TOKEN_QUERY, &token))
      return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    out.resize(size);
    const bool ok = size && GetTokenInformation(token, TokenUser, out.data(), size, &size);
    CloseHandle(token);
    return ok;
  };
  std::vector<unsigned char> theirs, ours;
  return sidOf(process, theirs) && sidOf(GetCurrentProcess(), ours) &&
         EqualSid(reinterpret_cast<TOKEN_USER*>(theirs.data())->User.Sid,
                  reinterpret_cast<TOKEN_USER*>(ours.data())->User.Sid);
}

// The close message to the process's top-level windows: its way of quitting.
BOOL CALLBACK askToClose(HWND window, LPARAM pid) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(pid))
    PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

std::optional<std::vector<int>> endProcessesOf(const std::string& exePath, int graceMs) {
  if (exePath.empty())
    return std::vector<int>{};
  const std::wstring program = fullPath(win::toWide(exePath));
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return std::nullopt;
  const DWORD self = GetCurrentProcessId();
  std::vector<int> ended;
  std::vector<HANDLE> handles;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self)
      continue;
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                    entry.th32ProcessID);
    if (!process)
      continue;
    if (_wcsicmp(programOf(process).c_str(), program.c_str()) != 0 || !sameUser(process)) {
      CloseHandle(process);
      continue;
    }
    EnumWindows(askToClose, static_cast<LPARAM>(entry.th32ProcessID));
    ended.push_back(static_cast<int>(entry.th32ProcessID));
    handles.push_back(process);
  }
  CloseHandle(snapshot);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(graceMs);
  for (HANDLE process : handles) {
    const ULONGLONG now = GetTickCount64();
    const DWORD wait = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(process, wait) != WAIT_OBJECT_0)
      TerminateProcess(process, 0);
    CloseHandle(process);
  }
  return ended;
}

int quitRequests() {
  return -1;
}

void drainQuitRequests() {}

}  // namespace platform
