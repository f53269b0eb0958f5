#include "platform/desktop_windows.h"

#include <windows.h>

#include "utf8.h"

namespace platform {

bool canShareWindows() {
  return true;
}

std::vector<DesktopWindow> desktopWindows() {
  std::vector<DesktopWindow> windows;
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* out = reinterpret_cast<std::vector<DesktopWindow>*>(param);
        if (!IsWindowVisible(hwnd))
          return TRUE;
        wchar_t title[512];
        const int length = GetWindowTextW(hwnd, title, 512);
        if (length <= 0)
          return TRUE;
        DesktopWindow w;
        w.handle = reinterpret_cast<uint64_t>(hwnd);
        title[length < 512 ? length : 511] = L'\0';
        w.title = win::toUtf8(title);
        RECT r;
        if (GetWindowRect(hwnd, &r)) {
          w.x = r.left;
          w.y = r.top;
          w.width = r.right - r.left;
          w.height = r.bottom - r.top;
        }
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        w.pid = long(pid);
        out->push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

WindowState windowState(uint64_t handle) {
  HWND hwnd = reinterpret_cast<HWND>(handle);
  if (!IsWindow(hwnd))
    return WindowState::Gone;
  return IsWindowVisible(hwnd) && !IsIconic(hwnd) ? WindowState::Shown : WindowState::Hidden;
}

bool showDesktopWindow(uint64_t handle) {
  HWND hwnd = reinterpret_cast<HWND>(handle);
  if (!IsWindow(hwnd))
    return false;
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  return true;
}

void keepOnDesktopIfWeEnd(void*, uint64_t, bool) {}

}  // namespace platform
