// The desktop's top-level windows, for choosing one to share: the visible
// ones with a title, each with its native handle, where it is on the screen
// and the process it belongs to; and whether one of them still exists.
//
// X11: the window manager's _NET_CLIENT_LIST (without a window manager, the
// root's mapped children), titles from _NET_WM_NAME (else WM_NAME), processes
// from _NET_WM_PID. Windows: EnumWindows. Without an X display (a Wayland
// session without XWayland, a console) there are none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct DesktopWindow {
  uint64_t handle = 0;
  std::string title;  // UTF-8
  int x = 0, y = 0, width = 0, height = 0;
  long pid = 0;  // 0 when the window does not say
};

// Whether this session's windows can be listed and captured: an X11 (or
// Win32) desktop, not a Wayland one.
bool canShareWindows();

std::vector<DesktopWindow> desktopWindows();

enum class WindowState { Gone, Hidden, Shown };
WindowState windowState(uint64_t handle);

// Shows the window on the desktop (mapped and raised); false when it is gone.
bool showDesktopWindow(uint64_t handle);

// Another program's window embedded in one of ours: keep (or stop keeping) it
// on the desktop should our process end without handing it back (a crash, a
// kill), instead of the display server taking it down with our windows.
// connection: the X connection our windows were made on (Qt's); unused where
// the system keeps such windows by itself.
void keepOnDesktopIfWeEnd(void* connection, uint64_t handle, bool keep);

}  // namespace platform
