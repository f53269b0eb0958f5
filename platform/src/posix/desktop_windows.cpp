#include "platform/desktop_windows.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace platform {

namespace {

struct Free {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, Free>;

struct Connection {
  xcb_connection_t* c = nullptr;
  xcb_screen_t* screen = nullptr;
  Connection() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
      return;
    int number = 0;
    c = xcb_connect(display, &number);
    if (xcb_connection_has_error(c)) {
      xcb_disconnect(c);
      c = nullptr;
      return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < number && it.rem; ++i)
      xcb_screen_next(&it);
    screen = it.data;
  }
  ~Connection() {
    if (c)
      xcb_disconnect(c);
  }
  explicit operator bool() const { return c && screen; }

  xcb_atom_t atom(const char* name) const {
    Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
  }
  // A property's bytes (at most 64 KiB); empty when absent.
  std::string property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const {
    if (property == XCB_ATOM_NONE)
      return {};
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, type, 0, 16384), nullptr));
    if (!r || r->format == 0)
      return {};
    const int length = xcb_get_property_value_length(r.get());
    return std::string(static_cast<const char*>(xcb_get_property_value(r.get())),
                       length > 0 ? size_t(length) : 0);
  }
};

std::vector<xcb_window_t> windowsIn(const std::string& bytes) {
  std::vector<xcb_window_t> ids(bytes.size() / 4);
  if (!ids.empty())
    std::memcpy(ids.data(), bytes.data(), ids.size() * 4);
  return ids;
}

}  // namespace

bool canShareWindows() {
  const char* session = std::getenv("XDG_SESSION_TYPE");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  // Under XWayland only X11 programs would be listed, and none of them captured reliably.
  if ((session && std::strcmp(session, "wayland") == 0) || (wayland && *wayland))
    return false;
  return bool(Connection());
}

std::vector<DesktopWindow> desktopWindows() {
  std::vector<DesktopWindow> windows;
  Connection x;
  if (!x)
    return windows;
  const xcb_window_t root = x.screen->root;
  std::vector<xcb_window_t> ids =
      windowsIn(x.property(root, x.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW));
  if (ids.empty()) {
    // No window manager: the top-level windows are the root's children.
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x.c, xcb_query_tree(x.c, root), nullptr));
    if (tree) {
      const xcb_window_t* children = xcb_query_tree_children(tree.get());
      ids.assign(children, children + xcb_query_tree_children_length(tree.get()));
    }
  }
  const xcb_atom_t netName = x.atom("_NET_WM_NAME"), utf8 = x.atom("UTF8_STRING"),
                   netPid = x.atom("_NET_WM_PID");
  for (xcb_window_t id : ids) {
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(x.c, xcb_get_window_attributes(x.c, id), nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
        attributes->override_redirect)
      continue;
    DesktopWindow w;
    w.handle = id;
    w.title = x.property(id, netName, utf8);
    if (w.title.empty())
      w.title = x.property(id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    if (w.title.empty())
      continue;
    const std::string pid = x.property(id, netPid, XCB_ATOM_CARDINAL);
    if (pid.size() >= 4) {
      uint32_t value = 0;
      std::memcpy(&value, pid.data(), 4);
      w.pid = long(value);
    }
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(x.c, xcb_get_geometry(x.c, id), nullptr));
    Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
        x.c, xcb_translate_coordinates(x.c, id, root, 0, 0), nullptr));
    if (geometry) {
      w.width = geometry->width;
      w.height = geometry->height;
    }
    if (at) {
      w.x = at->dst_x;
      w.y = at->dst_y;
    }
    windows.push_back(w);
  }
  return windows;
}

WindowState windowState(uint64_t handle) {
  Connection x;
  if (!x || handle == 0 || handle > 0xffffffffu)
    return WindowState::Gone;
  Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
      x.c, xcb_get_window_attributes(x.c, xcb_window_t(handle)), nullptr));
  if (!attributes)
    return WindowState::Gone;
  return attributes->map_state == XCB_MAP_STATE_VIEWABLE ? WindowState::Shown : WindowState::Hidden;
}

bool showDesktopWindow(uint64_t handle) {
  Connection x;
  if (!x || handle == 0 || handle > 0xffffffffu)
    return false;
  const xcb_window_t window = xcb_window_t(handle);
  const uint32_t above[] = {XCB_STACK_MODE_ABOVE};
  xcb_map_window(x.c, window);
  xcb_configure_window(x.c, window, XCB_CONFIG_WINDOW_STACK_MODE, above);
  // Checked: the answer says whether the window was there.
  Reply<xcb_get_window_attributes_reply_t> attributes(
      xcb_get_window_attributes_reply(x.c, xcb_get_window_attributes(x.c, window), nullptr));
  return attributes != nullptr;
}

void keepOnDesktopIfWeEnd(void* connection, uint64_t handle, bool keep) {
  auto* c = static_cast<xcb_connection_t*>(connection);
  if (!c || handle == 0 || handle > 0xffffffffu)
    return;
  // The save-set: windows of other clients in it go back to the root when
  // this client's windows are destroyed with its connection.
  xcb_change_save_set(c, keep ? XCB_SET_MODE_INSERT : XCB_SET_MODE_DELETE, xcb_window_t(handle));
  xcb_flush(c);
}

}  // namespace platform
