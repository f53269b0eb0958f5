// velmedia: microphone capture with audio encoding.
//
// The encoder produces the frames velaudira decodes: Opus packets of 20 ms each, at most
// velsample_max_frame bytes, so a packet with two earlier frames as redundancy stays well
// inside one 1500-byte datagram. Anything that mixes or relays the audio (the MCU) decodes
// and encodes the same way.
#pragma once

#include <cstdint>

// Largest encoded frame handed to the callback.
constexpr unsigned velsample_max_frame = 400;

// Receives one encoded frame on the capture thread. `timestamp` counts samples at the
// sample rate from 0 for the first frame (960 more per 20 ms frame at 48000 Hz); `data` is
// valid only during the call.
typedef void (*velsample_encode_callback)(const uint8_t* data, unsigned length, uint32_t timestamp,
                                          void* user);

// One open capture-and-encode handle (opaque).
struct velsample_encoder;

// Opens an encoder for `channels` (1 or 2) at `sample_rate` Hz (8000, 12000, 16000, 24000 or
// 48000) and `bitrate` bit/s, delivering frames to `callback` with `user`. With `capture` true
// it records from microphone `device_index` (see velaudio_device); with false it records
// nothing and encodes what velsample_encode_feed gives it. Null on bad arguments or when the
// microphone does not open.
velsample_encoder* velsample_encode_open(int channels, int sample_rate, int bitrate,
                                         velsample_encode_callback callback, int device_index,
                                         void* user, bool capture);

// Hands `frames` sample frames of interleaved 16-bit PCM (frames * channels samples) to an
// encoder opened without capture; whole 20 ms frames are encoded and delivered before it
// returns, the rest is kept for the next call. 0 done, -1 null arguments or a capturing
// encoder.
int velsample_encode_feed(velsample_encoder* encoder, const int16_t* pcm, unsigned frames);

// Stops capture and frees the encoder; when it returns no callback is running or will follow
// (so it must not be called from inside the callback). Accepts null. 0 done.
int velsample_encode_close(velsample_encoder* encoder);
