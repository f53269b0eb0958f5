// The microphone level meter (media_ctrl 26 / 27): records from one microphone and raises
// event 17 with the mean absolute level of each block.
#pragma once

#include <cstdint>
#include <memory>

#include "sendmsg2ui.h"
#include "velmedia/velaudio_device.h"

class record_volume : public velAudioTransport {
public:
  // Null when no audio device object can be created. A microphone that does not open
  // leaves a silent meter.
  static std::unique_ptr<record_volume> create(int device_index, sendmsg2ui* ui);
  ~record_volume() override;

  // The level of one block: the absolute values of the samples at 0, c, 2c, ... below
  // sample_count (c = channels), summed and divided by sample_count.
  static uint16_t block_level(const int16_t* samples, unsigned sample_count, unsigned channels);

  int recorded_data_available(const void* samples, unsigned sample_count, unsigned bytes_per_sample,
                              unsigned channels, unsigned sample_rate) override;
  int need_more_play_data(unsigned, unsigned, unsigned, unsigned, void*, unsigned*) override {
    return 0;
  }

private:
  record_volume(std::unique_ptr<velaudio_device> device, sendmsg2ui* ui)
      : device_(std::move(device)), ui_(ui) {}
  std::unique_ptr<velaudio_device> device_;
  sendmsg2ui* ui_;
};
