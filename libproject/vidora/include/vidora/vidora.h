// vidora: plays one local media file. The pictures are handed to the caller as packed
// RGB24 through video_play; the sound goes to the system's default output through SDL2.
//
// All observer calls come from the player's own control thread. Nothing throws across this
// interface.
#pragma once

#if defined(_WIN32)
#if defined(VIDORA_BUILD)
#define VIDORA_API __declspec(dllexport)
#else
#define VIDORA_API __declspec(dllimport)
#endif
#else
#define VIDORA_API __attribute__((visibility("default")))
#endif

// Implemented by the caller. Called on the player's control thread: an implementation that
// needs its own thread copies what it needs and hands it over.
class video_play {
public:
  virtual ~video_play() {}
  // The position of the picture just delivered, in whole seconds, and the total duration.
  // Reported when the position changes and is not beyond the total; the last call at the
  // end of the media is (totalSeconds, totalSeconds).
  virtual void on_play_progress(int seconds, int totalSeconds) = 0;
  // A picture that became due: height rows of width x 3 bytes (R, G, B), no padding. The
  // buffer belongs to the player and is valid only during the call.
  virtual void on_video_frame(const unsigned char* rgb24, int width, int height) = 0;
};

class VIDORA_API vidora {
public:
  // A new player for the file at `path` (copied; at most 259 bytes are kept), or null when
  // memory is exhausted. Nothing is opened yet. `audioDevice` is accepted for the caller's
  // speaker choice; the sound always goes to the default output.
  static vidora* create(const char* path, video_play* observer, int audioDevice);

  // Stops a running player (as stop()) and frees it.
  virtual ~vidora() {}
  // Opens the file and starts playing on the player's own thread. A second call does
  // nothing. Returns 0, or -1 when the thread could not be started.
  virtual int start() = 0;
  // Pauses (true) or resumes (false). Asking for the state the player is in does nothing.
  virtual int set_pause(bool paused) = 0;
  // Moves to `percent` (0..100) of the file. A seek asked while another one is still
  // pending is dropped.
  virtual int seek(int percent) = 0;
  // Ends playback and joins the player's thread. A stopped player is not started again.
  virtual int stop() = 0;
};
