#pragma once

// A request from the caller's thread to the control thread.
struct player_command {
  enum kind_t { toggle_pause = 0, seek = 1, quit = 2 };
  int kind;
  // seek: a heap-allocated int, the percent; whoever takes the command frees it.
  void* payload;
};
