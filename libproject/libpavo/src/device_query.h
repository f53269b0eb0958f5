// Device lists through velmedia, asked afresh at every call (devices come and go).
#pragma once

#include <cstdint>

namespace pavo {

// Counts: 0 when the device layer fails.
int camera_count();
int microphone_count();
int speaker_count();
// Names into a 128-byte buffer: 0 done, -1 bad index or device layer failure.
int camera_name(int index, char* name);
int microphone_name(int index, char* name);
int speaker_name(int index, char* name);
// Bit 1 when a camera exists, bit 2 when a recording device exists.
uint32_t device_mask();

}  // namespace pavo
