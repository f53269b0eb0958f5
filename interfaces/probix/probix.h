// probix: camera and microphone test for the lobby's device page.
//
// video_test and audio_test have the same shape: pick a device, start, stop. Device indexes
// follow velmedia's lists (velcapture for cameras, velaudio_device for microphones).
// Callbacks run on the library's thread.
#pragma once

#include <cstdint>

// Receives one preview picture: packed BGR24 (B, G, R per pixel, rows of width*3 bytes
// without padding), valid only during the call.
typedef void (*video_test_callback)(void* user, const unsigned char* frame, int width, int height);

// Receives the microphone input level about every 10 ms: the mean absolute sample value of
// the block, 0 (silence) to 32767.
typedef void (*audio_test_callback)(void* user, unsigned short level);

// The operations both tests share, in slot order (the lobby counts them 1 to 6: destroy,
// count, name, select, start, stop).
class device_test {
public:
  // slot 0 (called "destroy" by the lobby): stops the test and frees it; when it returns no
  // callback is running or will follow (so not from inside a callback).
  virtual ~device_test() = default;
  // As the lobby calls slot 0: stops and destroys the test (flag 1).
  void destroy(int flag = 1) {
    (void)flag;
    delete this;
  }
  // slot 1: number of devices; 0 when there are none.
  virtual int get_device_count() = 0;
  // slot 2: writes the name of device `index` into `name` (`size` bytes, cut to fit and
  // NUL-terminated). 0 done, -1 bad index or buffer.
  virtual int get_device_name(int index, char* name, int size) = 0;
  // slot 3: chooses the device for the next start. 0 done, -1 bad index.
  virtual int select_device(int index) = 0;
  // slot 4: opens the chosen device and starts the callbacks. 0 done (also when already
  // running), -1 no device or it does not open.
  virtual int start() = 0;
  // slot 5: stops the callbacks and closes the device. 0 done, also when not running.
  virtual int stop() = 0;
};

// Camera test: previews the chosen camera.
class video_test : public device_test {
public:
  // Null when `callback` is null or out of resources.
  static video_test* create(video_test_callback callback, void* user);
};

// Microphone test: meters the chosen microphone.
class audio_test : public device_test {
public:
  // Null when `callback` is null or out of resources.
  static audio_test* create(audio_test_callback callback, void* user);
};
