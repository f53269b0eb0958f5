// Windows cameras: DirectShow video sources as libavdevice's dshow input lists them.
#ifdef _WIN32

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

#include "camera_list.h"
#include "media_runtime.h"

namespace velmedia_internal {
namespace {

bool has_video(const AVDeviceInfo* device) {
  for (int i = 0; i < device->nb_media_types; ++i) {
    if (device->media_types[i] == AVMEDIA_TYPE_VIDEO)
      return true;
  }
  return false;
}

}  // namespace

std::vector<camera_info> list_system_cameras() {
  register_ffmpeg_devices();
  std::vector<camera_info> cameras;
  const AVInputFormat* dshow = av_find_input_format("dshow");
  if (!dshow)
    return cameras;
  AVDeviceInfoList* list = nullptr;
  if (avdevice_list_input_sources(dshow, nullptr, nullptr, &list) < 0 || !list)
    return cameras;
  for (int i = 0; i < list->nb_devices; ++i) {
    const AVDeviceInfo* device = list->devices[i];
    if (!device || !device->device_name || !has_video(device))
      continue;
    camera_info info;
    info.format = "dshow";
    // The device name is DirectShow's unique moniker, so two identical cameras stay apart.
    info.url = std::string("video=") + device->device_name;
    info.name = device->device_description ? device->device_description : device->device_name;
    cameras.push_back(info);
  }
  avdevice_free_list_devices(&list);
  return cameras;
}

}  // namespace velmedia_internal

#endif  // _WIN32
