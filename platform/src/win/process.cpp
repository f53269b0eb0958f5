#include "platform/platform.h"

#include <windows.h>

#include <tlhelp32.h>

#include "utf8.h"

namespace platform {

int terminateProcessByName(const std::string& exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return -1;

  const DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self || win::toUtf8(entry.szExeFile) != exeName)
      continue;
    CloseHandle(snapshot);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
    if (!process)
      return -1;
    const BOOL terminated = TerminateProcess(process, 0);
    CloseHandle(process);
    return terminated ? 0 : -1;
  }
  CloseHandle(snapshot);
  return 0;
}

}  // namespace platform
