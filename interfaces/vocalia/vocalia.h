// vocalia: recording and playback of chat voice clips (".qn" files).
//
// Clip file: a 9-byte header, then the encoded audio.
//   bytes 0-4  "QNVC" and the format version (1)
//   bytes 5-8  clip length in whole seconds, big-endian u32, rounded to the nearest and at
//              least 1 when there is audio (libpavo's
//              media_ctrl 22 reads it here)
//   then       frames, each a big-endian u16 length and that many bytes of one 20 ms Opus
//              frame (48000 Hz, mono), as velsample_encode makes them
// The length field is written when the recording ends; a clip whose recording never ended
// says 0.
#pragma once

#include <cstdint>

// Size of the clip header and its magic bytes (the fifth is the version).
constexpr unsigned vocalia_header_size = 9;
inline constexpr unsigned char vocalia_magic[5] = {'Q', 'N', 'V', 'C', 1};

// Playback progress. Called on the player's thread.
class notify_progress2ui {
public:
  // slot 0
  virtual ~notify_progress2ui() = default;
  // slot 1: `curr` of `total` seconds played; reported whenever the whole second changes and
  // once at the end with curr == total. `total` is the clip length of the header.
  virtual void play_progress(unsigned curr, unsigned total) = 0;
};

// Records the microphone into a clip file until released.
class libvocalia_record {
public:
  // Creates (or truncates) `path` and starts recording from microphone `device` (velaudio_device
  // list) at once. Null when the file cannot be created or the microphone does not open.
  static libvocalia_record* create(const char* path, unsigned short device);

  // slot 0: stops recording, writes the clip length into the header and closes the file.
  virtual ~libvocalia_record() = default;
  // As the client calls slot 0: stops, closes and destroys the recorder (flag 1).
  void release(int flag = 1) {
    (void)flag;
    delete this;
  }
};

// Plays a clip file on a speaker, reporting progress.
class libvocalia_play {
public:
  // Opens `path` and starts playing at once on speaker `outputDevice` (velaudio_device list;
  // an index beyond it uses the default output). Null when the file is not a clip or no
  // output device opens.
  static libvocalia_play* create(notify_progress2ui* observer, const char* path, int outputDevice);

  // slot 0: stops playback and frees the player; when it returns no observer call is running
  // or will follow (so not from inside an observer call).
  virtual ~libvocalia_play() = default;
  // As the client calls slot 0: stops and destroys the player (flag 1).
  void release(int flag = 1) {
    (void)flag;
    delete this;
  }
  // slot 1: 1 resumes, 2 pauses. 0 done, -1 other values or playback already ended.
  virtual int set_play_state(int state) = 0;
  // slot 2: continues playing at `percent` (0-100, clamped) of the clip. 0 done, -1 when
  // playback already ended.
  virtual int seek_percent(int percent) = 0;
};
