// The cameras velcapture offers, in index order.
#pragma once

#include <string>
#include <vector>

namespace velmedia_internal {

struct camera_info {
  std::string name;    // shown to the user
  std::string format;  // libavdevice input: "v4l2", "dshow" or "lavfi"
  std::string url;     // what that input opens: "/dev/video0", "video=<device>"; empty for lavfi
  bool synthetic = false;
};

// The machine's capture devices (platform part: v4l2 nodes on Linux, DirectShow on Windows).
std::vector<camera_info> list_system_cameras();

// The machine's cameras followed by the synthetic camera when TAV_FAKE_CAMERA is on.
std::vector<camera_info> list_cameras();

}  // namespace velmedia_internal
