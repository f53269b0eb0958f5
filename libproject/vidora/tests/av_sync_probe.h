// Measures how far the delivered picture is from the played sound, on a file with a white
// flash and a beep at the start of every second, with the sound going to SDL's disk driver
// (SDL_AUDIODRIVER=disk must be set before the player starts).
//
// The sound's play head at the moment a flash is delivered is read from the disk file's
// length: the driver writes one buffer and then waits for it to be played, so the head is
// taken as the middle of the last written buffer. Each flash is paired with the nearest beep
// onset found in the written samples; offset = head - onset, in seconds (positive: the
// picture comes after its sound).
#pragma once

#include <string>
#include <vector>

namespace vidora_test {

// 160x120 at 25 pictures a second, 48 kHz stereo AAC, `seconds` long.
bool make_flash_beep_file(const std::string& path, int seconds);

struct av_sync_figures {
  std::vector<double> offsets;  // one per delivered flash that was paired with a beep
  int flashes = 0;
  int beeps = 0;
  bool ended = false;
};

// Plays `media` to its end, the sound into `disk_file`.
av_sync_figures measure_av_sync(const std::string& media, const std::string& disk_file);

// The value below which `fraction` (0..1) of the magnitudes lie.
double percentile_abs(std::vector<double> values, double fraction);

}  // namespace vidora_test
