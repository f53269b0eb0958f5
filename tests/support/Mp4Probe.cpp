#include "Mp4Probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <memory>

namespace testsupport {

namespace {

struct Input {
  AVFormatContext* format = nullptr;
  ~Input() { avformat_close_input(&format); }
  bool open(const QString& path) {
    if (avformat_open_input(&format, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
      return false;
    return avformat_find_stream_info(format, nullptr) >= 0;
  }
};

struct Decoder {
  AVCodecContext* codec = nullptr;
  ~Decoder() { avcodec_free_context(&codec); }
  bool open(const AVStream* stream) {
    const AVCodec* found = avcodec_find_decoder(stream->codecpar->codec_id);
    codec = found ? avcodec_alloc_context3(found) : nullptr;
    return codec && avcodec_parameters_to_context(codec, stream->codecpar) >= 0 &&
           avcodec_open2(codec, found, nullptr) >= 0;
  }
};

// Every decoded frame of the stream of `type`, in order, until `visit` says stop.
template <typename Visit>
bool decodeAll(const QString& path, AVMediaType type, Visit visit) {
  Input in;
  if (!in.open(path))
    return false;
  const int index = av_find_best_stream(in.format, type, -1, -1, nullptr, 0);
  if (index < 0)
    return false;
  const AVStream* stream = in.format->streams[index];
  Decoder decoder;
  if (!decoder.open(stream))
    return false;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool going = true;
  auto drain = [&] {
    while (going && avcodec_receive_frame(decoder.codec, frame) >= 0) {
      const int64_t pts = frame->best_effort_timestamp;
      going = visit(frame, pts == AV_NOPTS_VALUE ? 0.0 : pts * av_q2d(stream->time_base));
      av_frame_unref(frame);
    }
  };
  while (going && av_read_frame(in.format, packet) >= 0) {
    if (packet->stream_index == index && avcodec_send_packet(decoder.codec, packet) >= 0)
      drain();
    av_packet_unref(packet);
  }
  if (going) {
    avcodec_send_packet(decoder.codec, nullptr);
    drain();
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  return true;
}

}  // namespace

Mp4Info probeMp4(const QString& path) {
  Mp4Info info;
  Input in;
  if (!in.open(path))
    return info;
  info.opened = true;
  for (unsigned i = 0; i < in.format->nb_streams; ++i) {
    const AVStream* s = in.format->streams[i];
    const QString name = QString::fromLatin1(avcodec_get_name(s->codecpar->codec_id));
    double seconds = s->duration > 0 ? s->duration * av_q2d(s->time_base) : 0;
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      info.videoCodec = name;
      info.width = s->codecpar->width;
      info.height = s->codecpar->height;
    } else if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      info.audioCodec = name;
    }
    info.seconds = std::max(info.seconds, seconds);
  }
  if (in.format->duration > 0)
    info.seconds = std::max(info.seconds, in.format->duration / double(AV_TIME_BASE));
  decodeAll(path, AVMEDIA_TYPE_VIDEO, [&](AVFrame*, double) {
    ++info.videoFrames;
    return true;
  });
  return info;
}

QImage mp4FrameAt(const QString& path, double seconds) {
  QImage found;
  decodeAll(path, AVMEDIA_TYPE_VIDEO, [&](AVFrame* frame, double at) {
    if (at > seconds && !found.isNull())
      return false;
    QImage image(frame->width, frame->height, QImage::Format_RGB32);
    SwsContext* sws =
        sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                       frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    uint8_t* planes[1] = {image.bits()};
    const int strides[1] = {int(image.bytesPerLine())};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
    sws_freeContext(sws);
    found = image;
    return true;
  });
  return found;
}

std::vector<int16_t> mp4Sound(const QString& path, double from, double to) {
  std::vector<int16_t> out;
  SwrContext* swr = nullptr;
  decodeAll(path, AVMEDIA_TYPE_AUDIO, [&](AVFrame* frame, double at) {
    if (at > to)
      return false;
    if (!swr) {
      AVChannelLayout stereo;
      av_channel_layout_default(&stereo, 2);
      swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, 48000, &frame->ch_layout,
                          AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
      swr_init(swr);
    }
    std::vector<int16_t> samples(size_t(frame->nb_samples) * 2 + 256);
    uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(samples.data())};
    const int n = swr_convert(swr, planes, frame->nb_samples + 128,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n > 0 && at >= from)
      out.insert(out.end(), samples.begin(), samples.begin() + n * 2);
    return true;
  });
  swr_free(&swr);
  return out;
}

double toneShare(const std::vector<int16_t>& stereo, int rate, double hz) {
  const size_t n = stereo.size() / 2;
  if (n < size_t(rate / 10))
    return 0;
  const double w = 2 * M_PI * hz / rate;
  double q1 = 0, q2 = 0, total = 0;
  for (size_t i = 0; i < n; ++i) {
    const double x = stereo[2 * i] / 32768.0;
    const double q0 = 2 * std::cos(w) * q1 - q2 + x;
    q2 = q1;
    q1 = q0;
    total += x * x;
  }
  if (total < n * 1e-6)
    return 0;
  const double power = q1 * q1 + q2 * q2 - 2 * std::cos(w) * q1 * q2;
  return power / (total * n / 2);
}

}  // namespace testsupport
