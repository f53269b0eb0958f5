// velmedia: the machine's audio devices, microphone recording and speaker playout.
//
// Microphone and speaker indexes count from 0 in the order of this class's lists; the same
// indexes are used by velsample_encode_open (microphone), velaudira and libvocalia_play
// (speaker) and libvocalia_record (microphone).
//
// When the environment variable TAV_FAKE_MICROPHONE is set (normally "1"; empty or "0" is
// off), a synthetic microphone named "虚拟麦克风 (测试)" is listed after the real ones: a
// 440 Hz tone, or the WAV file named by TAV_FAKE_MICROPHONE_WAV played in a loop, made at
// real-time pace.
#pragma once

#include <cstdint>

#include "velmedia/velmedia_types.h"

// Receiver of recorded audio. Called on the audio device's thread.
class velAudioTransport {
public:
  // slot 0
  virtual ~velAudioTransport() = default;
  // slot 1: one block of about 10 ms of recorded audio: `sample_count` sample frames of
  // `channels` interleaved signed samples of `bytes_per_sample` bytes each (2: 16-bit), so
  // the block holds sample_count * channels samples. `samples` is valid only during the call.
  // The result is ignored; return 0. (This engine always delivers 480 frames of 16-bit
  // stereo at 48000 Hz, whatever the device records.)
  virtual int recorded_data_available(const void* samples, unsigned sample_count,
                                      unsigned bytes_per_sample, unsigned channels,
                                      unsigned sample_rate) = 0;
  // slot 2: playout request for `sample_count` sample frames into `samples`, writing the
  // frames provided to *samples_out. Asked only while playout runs (velaudio_device slot 10),
  // on the speaker's thread, for 16-bit stereo at 48000 Hz; frames not provided play as
  // silence. A transport that only records returns 0.
  virtual int need_more_play_data(unsigned sample_count, unsigned bytes_per_sample,
                                  unsigned channels, unsigned sample_rate, void* samples,
                                  unsigned* samples_out) = 0;
};

// Lists the audio devices and records from one microphone. Deleting the object stops it.
class velaudio_device {
public:
  // Null when the audio layer cannot be used at all (SDL audio does not start and there is
  // no synthetic microphone). A machine without sound devices still gets an object.
  static velaudio_device* create();

  // slot 0: stops recording and frees the object.
  virtual ~velaudio_device() = default;

  // slot 1: sets the receiver of recorded blocks (null: blocks are dropped). 0 done.
  virtual int set_transport(velAudioTransport* transport) = 0;
  // slot 2: number of speakers (playback devices); 0 when none.
  virtual int get_speaker_count() = 0;
  // slot 3: number of microphones (recording devices); 0 when none.
  virtual int get_microphone_count() = 0;
  // slot 4: name of speaker `index` into `name` (velmedia_name_size bytes). 0 done, -1 bad
  // index or null buffer.
  virtual int get_speaker_name(int index, char* name) = 0;
  // slot 5: name of microphone `index`, as get_speaker_name.
  virtual int get_microphone_name(int index, char* name) = 0;
  // slot 6: selects the microphone for the next start_recording. 0 done, -1 bad index.
  virtual int select_microphone(int index) = 0;
  // slot 7: starts recording; blocks go to the transport. 0 done, -1 no microphone or it
  // does not open; 0 when already recording.
  virtual int start_recording() = 0;
  // slot 8: stops recording; when it returns no transport call is running or will follow.
  // 0 done, also when not recording; -1 when called from inside the transport.
  virtual int stop_recording() = 0;
  // Playout, added after the recording slots; a device without it refuses (-1).
  // slot 9: selects the speaker for the next start_playout; an index beyond the speaker list
  // plays on the default output. 0 done, -1 negative index.
  virtual int select_speaker(int) { return -1; }
  // slot 10: starts playout: the transport's need_more_play_data fills the speaker. 0 done,
  // also when already playing; -1 no output device or it does not open.
  virtual int start_playout() { return -1; }
  // slot 11: stops playout; when it returns no playout request is running or will follow.
  // 0 done, also when not playing; -1 when called from inside the transport.
  virtual int stop_playout() { return 0; }
};
