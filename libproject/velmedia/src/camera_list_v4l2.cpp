// Linux cameras: the /dev/video* nodes that capture single-planar video (what libavdevice's
// v4l2 input reads). Metadata and output nodes of the same camera are left out.
#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "camera_list.h"

namespace velmedia_internal {
namespace {

// "video12" -> 12; -1 for other names.
int video_node_number(const char* name) {
  if (std::strncmp(name, "video", 5) != 0 || !name[5])
    return -1;
  char* end = nullptr;
  const long number = std::strtol(name + 5, &end, 10);
  return (*end == '\0' && number >= 0 && number < 100000) ? static_cast<int>(number) : -1;
}

bool is_capture_node(const std::string& path, std::string* card) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  v4l2_capability cap{};
  const bool queried = ::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
  ::close(fd);
  if (!queried)
    return false;
  const unsigned caps =
      (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & (V4L2_CAP_STREAMING | V4L2_CAP_READWRITE)))
    return false;
  card->assign(reinterpret_cast<const char*>(cap.card),
               strnlen(reinterpret_cast<const char*>(cap.card), sizeof cap.card));
  if (card->empty())
    *card = path;
  return true;
}

}  // namespace

std::vector<camera_info> list_system_cameras() {
  std::vector<int> numbers;
  if (DIR* dev = ::opendir("/dev")) {
    while (const dirent* entry = ::readdir(dev)) {
      const int number = video_node_number(entry->d_name);
      if (number >= 0)
        numbers.push_back(number);
    }
    ::closedir(dev);
  }
  std::sort(numbers.begin(), numbers.end());

  std::vector<camera_info> cameras;
  for (int number : numbers) {
    camera_info info;
    info.url = "/dev/video" + std::to_string(number);
    if (!is_capture_node(info.url, &info.name))
      continue;
    info.format = "v4l2";
    cameras.push_back(info);
  }
  return cameras;
}

}  // namespace velmedia_internal
