#include "platform/platform.h"

#include <windows.h>

#include "utf8.h"

namespace platform {

SingleInstance::SingleInstance(const std::string& name) {
  const std::wstring wideName = win::toWide(name);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, wideName.c_str());
  const DWORD error = GetLastError();
  if (!mutex) {
    // The mutex exists but was created by another account or integrity level,
    // so another copy is running; other failures must not block start-up.
    alreadyRunning_ = (error == ERROR_ACCESS_DENIED);
    return;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    alreadyRunning_ = true;
    CloseHandle(mutex);
    return;
  }
  handle_ = mutex;  // The system drops the mutex with the last handle, also on a crash.
}

SingleInstance::~SingleInstance() {
  if (handle_)
    CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace platform
