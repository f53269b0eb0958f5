// The synthetic microphone: a steady tone, or a WAV file played in a loop, made in software
// at real-time pace, so the audio path runs on machines without a sound card.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "microphone_source.h"

namespace velmedia_internal {

class fake_microphone : public microphone_source {
public:
  // Plays `wav_path` when it is not empty, else a 440 Hz tone.
  explicit fake_microphone(std::string wav_path) : wav_path_(std::move(wav_path)) {}
  ~fake_microphone() override { stop(); }

  // False when the WAV file cannot be read.
  bool start(audio_block_sink sink) override;
  void stop() override;

  // Peak of the tone, about a quarter of full scale.
  static constexpr int tone_amplitude = 8000;

private:
  bool load_wav();
  void run(audio_block_sink sink);
  void fill_block(int16_t* block);

  std::string wav_path_;
  std::vector<int16_t> wav_;  // the file as 48 kHz stereo, looped
  size_t wav_position_ = 0;
  double phase_ = 0.0;

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
};

}  // namespace velmedia_internal
