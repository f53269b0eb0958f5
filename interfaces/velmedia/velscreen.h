// velmedia: screen and window grabber for the screen-share stream.
#pragma once

#include <cstdint>

#include "velmedia/velmedia_types.h"

// Grabs one source (the whole screen or a window) scaled to a fixed picture size.
class velscreen {
public:
  // `source` is a native window handle (an X11 window id, a Windows HWND value); 0 is the
  // whole screen. (x, y, cx, cy) is a part of the source in its own pixels; all 0 means the
  // whole source (libpavo always passes 0). Pictures are width x height (even). Null when the
  // display cannot be opened or the size is bad; a window that is gone fails at grab.
  static velscreen* create(int source, int width, int height, int x, int y, int cx, int cy);

  // slot 0: frees the grabber.
  virtual ~velscreen() = default;

  // slot 1: grabs the source now into `i420` (capacity at least velmedia_i420_size of the
  // size), scaled to width x height. 0 done; -1 when the source cannot be read (a closed or
  // minimised window) or the buffer is too small.
  virtual int grab(uint8_t* i420, unsigned capacity) = 0;
};
