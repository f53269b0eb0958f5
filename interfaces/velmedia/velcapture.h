// velmedia: camera capture.
//
// Cameras are the system's video devices. When the environment variable TAV_FAKE_CAMERA
// is set (normally "1"; empty or "0" is off), a synthetic camera named "虚拟摄像头 (测试)"
// (a moving test picture with a running clock) is listed after them, so machines without a
// camera can run the camera path. The list is read again by every get_device_count.
#pragma once

#include <cstdint>

#include "velmedia/velmedia_types.h"

// Receiver of captured frames. Called on the camera's capture thread.
class velcapture_data_callback {
public:
  // slot 0
  virtual ~velcapture_data_callback() = default;
  // slot 1: one captured picture, I420 of width x height (velmedia_i420_size bytes); `i420`
  // is valid only during the call.
  virtual void on_capture_data(const uint8_t* i420, unsigned length, int width, int height) = 0;
};

// The cameras of the machine; opens one at a time. Deleting the object closes it.
class velcapture {
public:
  // Null when out of resources; a machine without cameras still gets an object (count 0).
  static velcapture* create();

  // slot 0: closes the camera if open and frees the object.
  virtual ~velcapture() = default;

  // slot 1: number of cameras; 0 when there are none or the device layer fails.
  virtual int get_device_count() = 0;
  // slot 2: writes the name of camera `index` into `name` (velmedia_name_size bytes). 0 done,
  // -1 for a bad index or a null buffer.
  virtual int get_device_name(int index, char* name) = 0;
  // slot 3: opens camera `index` asking for *width x *height at *fps frames per second and
  // writes back what the camera gives (width and height even). Frames then arrive at
  // `sink` until close(). 0 done; -1 bad index, null argument, already open, or the camera
  // does not open.
  virtual int open(int index, int* width, int* height, int* fps,
                   velcapture_data_callback* sink) = 0;
  // slot 4: stops the capture; when it returns no call of the sink is running or will follow
  // (so it must not be called from inside the sink: there it is refused with -1). 0 done, also
  // when not open.
  virtual int close() = 0;
};
