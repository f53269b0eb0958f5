#include "camera_input.h"

#include <algorithm>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "media_runtime.h"
#include "velmedia/velmedia_types.h"
#include "woblog/woblog.h"

namespace velmedia_internal {
namespace {

int clamp_even(int value, int low, int high) {
  return std::clamp(value, low, high) & ~1;
}

// libavfilter graph of the synthetic camera: the moving test picture, optionally with a
// running clock and frame number written over it (drawtext needs fontconfig and a font).
std::string synthetic_graph(int width, int height, int fps, bool with_clock) {
  std::string graph = "testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
                      ":rate=" + std::to_string(fps);
  if (with_clock) {
    const int font_size = std::max(12, height / 12);
    graph +=
        ",drawtext=text='%{localtime\\:%X}  #%{n}':x=16:y=h-th-16:fontcolor=white"
        ":box=1:boxcolor=black@0.6:boxborderw=6:fontsize=" +
        std::to_string(font_size);
  }
  return graph + ",format=yuv420p";
}

std::string av_error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

camera_input::~camera_input() {
  release();
}

void camera_input::release() {
  sws_freeContext(scaler_);
  scaler_ = nullptr;
  avcodec_free_context(&decoder_);
  avformat_close_input(&format_);
  av_packet_free(&packet_);
  av_frame_free(&frame_);
  stream_ = -1;
}

bool camera_input::open(const camera_info& camera, int* width, int* height, int* fps) {
  release();
  register_ffmpeg_devices();
  synthetic_ = camera.synthetic;
  const int want_width = *width > 0 ? clamp_even(*width, 16, 1920) : 640;
  const int want_height = *height > 0 ? clamp_even(*height, 16, 1080) : 480;
  const int want_fps = *fps > 0 ? std::min(*fps, 60) : 15;

  // First as asked; a camera that refuses the size or rate gets a second try with its own
  // defaults (a synthetic camera without the clock, for builds without drawtext).
  if (!open_input(camera, want_width, want_height, want_fps, true) &&
      !open_input(camera, want_width, want_height, want_fps, false))
    return false;

  const AVStream* stream = format_->streams[stream_];
  width_ = stream->codecpar->width & ~1;
  height_ = stream->codecpar->height & ~1;
  if (width_ < 2 || height_ < 2) {
    qn::log("velmedia: camera %s gives no picture size", camera.name.c_str());
    release();
    return false;
  }
  if (!open_decoder()) {
    release();
    return false;
  }
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!packet_ || !frame_) {
    release();
    return false;
  }
  const AVRational rate = av_guess_frame_rate(format_, format_->streams[stream_], nullptr);
  int got_fps = (rate.num > 0 && rate.den > 0) ? (rate.num + rate.den / 2) / rate.den : 0;
  if (got_fps < 1)
    got_fps = want_fps;
  *width = width_;
  *height = height_;
  *fps = got_fps;
  qn::log("velmedia: camera %s open, %dx%d at %d fps", camera.name.c_str(), width_, height_,
          got_fps);
  return true;
}

bool camera_input::open_input(const camera_info& camera, int width, int height, int fps,
                              bool with_options) {
  const AVInputFormat* input = av_find_input_format(camera.format.c_str());
  if (!input) {
    qn::log("velmedia: FFmpeg has no %s input", camera.format.c_str());
    return false;
  }
  std::string url = camera.url;
  AVDictionary* options = nullptr;
  if (camera.synthetic) {
    url = synthetic_graph(width, height, fps, with_options);
  } else if (with_options) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    av_dict_set(&options, "video_size", size.c_str(), 0);
    av_dict_set(&options, "framerate", std::to_string(fps).c_str(), 0);
  }
  format_ = avformat_alloc_context();
  if (!format_) {
    av_dict_free(&options);
    return false;
  }
  // A live camera is read without blocking so that close() never waits on a stalled device.
  if (!camera.synthetic)
    format_->flags |= AVFMT_FLAG_NONBLOCK;
  const int opened = avformat_open_input(&format_, url.c_str(), input, &options);
  av_dict_free(&options);
  if (opened < 0) {  // avformat_open_input has freed the context
    qn::log("velmedia: camera %s does not open (%s)", camera.name.c_str(),
            av_error_text(opened).c_str());
    return false;
  }
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (stream_ < 0) {
    qn::log("velmedia: camera %s has no video stream", camera.name.c_str());
    avformat_close_input(&format_);
    return false;
  }
  return true;
}

bool camera_input::open_decoder() {
  const AVCodecParameters* parameters = format_->streams[stream_]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
  if (!codec) {
    qn::log("velmedia: no decoder for camera format %s", avcodec_get_name(parameters->codec_id));
    return false;
  }
  decoder_ = avcodec_alloc_context3(codec);
  if (!decoder_ || avcodec_parameters_to_context(decoder_, parameters) < 0)
    return false;
  decoder_->thread_count = 1;
  const int opened = avcodec_open2(decoder_, codec, nullptr);
  if (opened < 0) {
    qn::log("velmedia: camera decoder does not open (%s)", av_error_text(opened).c_str());
    return false;
  }
  return true;
}

camera_input::result camera_input::read(std::vector<uint8_t>* i420) {
  if (!format_ || !decoder_)
    return result::failed;
  int received = avcodec_receive_frame(decoder_, frame_);
  if (received == 0) {
    const bool converted = convert(frame_, i420);
    av_frame_unref(frame_);
    return converted ? result::picture : result::again;
  }
  if (received == AVERROR_EOF)
    return result::failed;
  // Nothing decoded yet (or a damaged picture, which is skipped): feed the next packet.
  const int got = av_read_frame(format_, packet_);
  if (got == AVERROR(EAGAIN))
    return result::again;
  if (got < 0) {
    qn::log("velmedia: camera read failed (%s)", av_error_text(got).c_str());
    return result::failed;
  }
  if (packet_->stream_index == stream_)
    avcodec_send_packet(decoder_, packet_);  // a rejected packet only costs that picture
  av_packet_unref(packet_);
  received = avcodec_receive_frame(decoder_, frame_);
  if (received != 0)
    return result::again;
  const bool converted = convert(frame_, i420);
  av_frame_unref(frame_);
  return converted ? result::picture : result::again;
}

bool camera_input::convert(const AVFrame* frame, std::vector<uint8_t>* i420) {
  if (frame->width <= 0 || frame->height <= 0)
    return false;
  const unsigned size = velmedia_i420_size(width_, height_);
  i420->resize(size);
  const auto format = static_cast<AVPixelFormat>(frame->format);
  if ((format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) && frame->width == width_ &&
      frame->height == height_) {
    return av_image_copy_to_buffer(i420->data(), static_cast<int>(size), frame->data,
                                   frame->linesize, AV_PIX_FMT_YUV420P, width_, height_, 1) >= 0;
  }
  scaler_ = sws_getCachedContext(scaler_, frame->width, frame->height, format, width_, height_,
                                 AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!scaler_)
    return false;
  uint8_t* planes[4] = {i420->data(), i420->data() + width_ * height_,
                        i420->data() + width_ * height_ + (width_ / 2) * (height_ / 2), nullptr};
  const int strides[4] = {width_, width_ / 2, width_ / 2, 0};
  return sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, planes, strides) > 0;
}

}  // namespace velmedia_internal
