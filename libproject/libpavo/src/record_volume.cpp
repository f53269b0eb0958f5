#include "record_volume.h"

#include <cstdlib>

#include "libpavo/libpavo.h"
#include "woblog/woblog.h"

std::unique_ptr<record_volume> record_volume::create(int device_index, sendmsg2ui* ui) {
  std::unique_ptr<velaudio_device> device(velaudio_device::create());
  if (!device)
    return nullptr;
  std::unique_ptr<record_volume> meter(new record_volume(std::move(device), ui));
  meter->device_->set_transport(meter.get());
  if (meter->device_->select_microphone(device_index) != 0 ||
      meter->device_->start_recording() != 0)
    qn::log("record_volume: microphone %d does not record", device_index);
  return meter;
}

record_volume::~record_volume() {
  device_->stop_recording();
  device_->set_transport(nullptr);
}

uint16_t record_volume::block_level(const int16_t* samples, unsigned sample_count,
                                    unsigned channels) {
  if (!samples || sample_count == 0 || channels == 0)
    return 0;
  uint64_t sum = 0;
  for (unsigned i = 0; i < sample_count; i += channels)
    sum += static_cast<uint64_t>(std::abs(static_cast<int>(samples[i])));
  return static_cast<uint16_t>(sum / sample_count);
}

int record_volume::recorded_data_available(const void* samples, unsigned sample_count,
                                           unsigned bytes_per_sample, unsigned channels, unsigned) {
  if (bytes_per_sample != 2)
    return 0;
  uint16_t level = block_level(static_cast<const int16_t*>(samples), sample_count, channels);
  ui_->media_event(pavo_event_record_volume, &level);
  return 0;
}
