#include "device_query.h"

#include <memory>

#include "libpavo/libpavo.h"
#include "velmedia/velaudio_device.h"
#include "velmedia/velcapture.h"

namespace pavo {
namespace {

std::unique_ptr<velcapture> cameras() {
  return std::unique_ptr<velcapture>(velcapture::create());
}
std::unique_ptr<velaudio_device> audio() {
  return std::unique_ptr<velaudio_device>(velaudio_device::create());
}

}  // namespace

int camera_count() {
  auto device = cameras();
  return device ? device->get_device_count() : 0;
}

int microphone_count() {
  auto device = audio();
  return device ? device->get_microphone_count() : 0;
}

int speaker_count() {
  auto device = audio();
  return device ? device->get_speaker_count() : 0;
}

int camera_name(int index, char* name) {
  auto device = cameras();
  return device && device->get_device_name(index, name) == 0 ? 0 : -1;
}

int microphone_name(int index, char* name) {
  auto device = audio();
  return device && device->get_microphone_name(index, name) == 0 ? 0 : -1;
}

int speaker_name(int index, char* name) {
  auto device = audio();
  return device && device->get_speaker_name(index, name) == 0 ? 0 : -1;
}

uint32_t device_mask() {
  uint32_t mask = 0;
  if (camera_count() > 0)
    mask |= device_camera;
  if (microphone_count() > 0)
    mask |= device_microphone;
  return mask;
}

}  // namespace pavo
