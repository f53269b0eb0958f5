#include "camera_list.h"

#include "media_runtime.h"

namespace velmedia_internal {

std::vector<camera_info> list_cameras() {
  std::vector<camera_info> cameras = list_system_cameras();
  if (env_flag(fake_camera_env)) {
    camera_info fake;
    fake.name = fake_camera_name;
    fake.format = "lavfi";
    fake.synthetic = true;
    cameras.push_back(fake);
  }
  return cameras;
}

}  // namespace velmedia_internal
