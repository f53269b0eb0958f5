// velsample_encode: microphone blocks (or fed PCM) cut into 20 ms frames and encoded with
// Opus for the room's audio stream.
#include "velmedia/velsample_encode.h"

#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <opus.h>

#include "velmedia/velaudio_device.h"
#include "woblog/woblog.h"

struct velsample_encoder : public velAudioTransport {
  velsample_encoder(int channels, int sample_rate, velsample_encode_callback callback, void* user)
      : channels(channels),
        sample_rate(sample_rate),
        frame_frames(static_cast<unsigned>(sample_rate / 50)),
        callback(callback),
        user(user) {}
  ~velsample_encoder() override {
    if (device) {
      device->stop_recording();
      device->set_transport(nullptr);
    }
    if (opus)
      opus_encoder_destroy(opus);
  }

  // Microphone blocks: always 48 kHz stereo from the device layer; brought to this
  // encoder's format before they are framed.
  int recorded_data_available(const void* samples, unsigned sample_count, unsigned bytes_per_sample,
                              unsigned block_channels, unsigned block_rate) override {
    if (!samples || bytes_per_sample != 2 || block_channels == 0 || block_rate == 0 ||
        block_rate % static_cast<unsigned>(sample_rate) != 0)
      return 0;
    convert_block(static_cast<const int16_t*>(samples), sample_count, block_channels,
                  block_rate / static_cast<unsigned>(sample_rate));
    std::lock_guard<std::mutex> lock(mutex);
    take(converted.data(), static_cast<unsigned>(converted.size() / channels));
    return 0;
  }
  int need_more_play_data(unsigned, unsigned, unsigned, unsigned, void*, unsigned*) override {
    return 0;
  }

  // Averages each run of `factor` frames and folds or copies the channels. Every rate the
  // encoder takes divides 48000, so an integer factor always fits.
  void convert_block(const int16_t* in, unsigned frames, unsigned in_channels, unsigned factor) {
    converted.clear();
    for (unsigned f = 0; f + factor <= frames; f += factor) {
      int32_t sums[2] = {0, 0};
      for (unsigned k = 0; k < factor; ++k) {
        const int16_t* frame = in + static_cast<size_t>(f + k) * in_channels;
        const int32_t left = frame[0];
        const int32_t right = in_channels > 1 ? frame[1] : frame[0];
        if (channels == 1) {
          sums[0] += (left + right) / 2;
        } else {
          sums[0] += left;
          sums[1] += right;
        }
      }
      for (int c = 0; c < channels; ++c)
        converted.push_back(static_cast<int16_t>(sums[c] / static_cast<int32_t>(factor)));
    }
  }

  // Appends `frames` frames of this encoder's format and encodes every whole 20 ms frame.
  // Called with `mutex` held.
  void take(const int16_t* pcm, unsigned frames) {
    const size_t frame_samples = static_cast<size_t>(frame_frames) * channels;
    pending.insert(pending.end(), pcm, pcm + static_cast<size_t>(frames) * channels);
    size_t used = 0;
    while (pending.size() - used >= frame_samples) {
      uint8_t packet[velsample_max_frame];
      const opus_int32 size =
          opus_encode(opus, pending.data() + used, static_cast<int>(frame_frames), packet,
                      static_cast<opus_int32>(sizeof packet));
      used += frame_samples;
      if (size < 0) {
        qn::log("velsample_encode: opus_encode failed: %s", opus_strerror(size));
      } else if (size > 0) {
        callback(packet, static_cast<unsigned>(size), timestamp, user);
      }
      // Samples at the sample rate, whether or not the frame could be encoded.
      timestamp += frame_frames;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
  }

  const int channels;
  const int sample_rate;
  const unsigned frame_frames;  // sample frames per 20 ms
  const velsample_encode_callback callback;
  void* const user;

  OpusEncoder* opus = nullptr;
  std::unique_ptr<velaudio_device> device;  // null when fed

  std::mutex mutex;  // pending, timestamp and the encoder
  std::vector<int16_t> pending;
  uint32_t timestamp = 0;
  std::vector<int16_t> converted;  // the capture thread's work buffer
};

namespace {

bool rate_supported(int rate) {
  return rate == 8000 || rate == 12000 || rate == 16000 || rate == 24000 || rate == 48000;
}

}  // namespace

velsample_encoder* velsample_encode_open(int channels, int sample_rate, int bitrate,
                                         velsample_encode_callback callback, int device_index,
                                         void* user, bool capture) {
  if ((channels != 1 && channels != 2) || !rate_supported(sample_rate) || bitrate < 6000 ||
      bitrate > 510000 || !callback) {
    qn::log("velsample_encode: refused %d channels, %d Hz, %d bit/s", channels, sample_rate,
            bitrate);
    return nullptr;
  }
  std::unique_ptr<velsample_encoder> encoder(
      new (std::nothrow) velsample_encoder(channels, sample_rate, callback, user));
  if (!encoder)
    return nullptr;
  int error = OPUS_OK;
  encoder->opus = opus_encoder_create(sample_rate, channels, OPUS_APPLICATION_VOIP, &error);
  if (!encoder->opus || error != OPUS_OK) {
    qn::log("velsample_encode: no Opus encoder: %s", opus_strerror(error));
    return nullptr;
  }
  opus_encoder_ctl(encoder->opus, OPUS_SET_BITRATE(bitrate));
  // The packets already carry two earlier frames each; in-band FEC would only cost bits.
  opus_encoder_ctl(encoder->opus, OPUS_SET_INBAND_FEC(0));
  opus_encoder_ctl(encoder->opus, OPUS_SET_DTX(0));
  if (!capture)
    return encoder.release();

  encoder->device.reset(velaudio_device::create());
  if (!encoder->device) {
    qn::log("velsample_encode: no audio device layer");
    return nullptr;
  }
  encoder->device->set_transport(encoder.get());
  if (encoder->device->select_microphone(device_index) != 0 ||
      encoder->device->start_recording() != 0) {
    qn::log("velsample_encode: microphone %d does not record", device_index);
    return nullptr;
  }
  return encoder.release();
}

int velsample_encode_feed(velsample_encoder* encoder, const int16_t* pcm, unsigned frames) {
  if (!encoder || (!pcm && frames > 0) || encoder->device)
    return -1;
  std::lock_guard<std::mutex> lock(encoder->mutex);
  encoder->take(pcm, frames);
  return 0;
}

int velsample_encode_close(velsample_encoder* encoder) {
  delete encoder;  // stops recording first, so no callback follows
  return 0;
}
