// velscreen: the screen or one window through libavdevice's screen grabber (x11grab here,
// gdigrab on Windows), each grab scaled to the stream's picture size as I420.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#ifndef _WIN32
#include <xcb/xcb.h>
#endif

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "media_runtime.h"
#include "velmedia/velscreen.h"
#include "woblog/woblog.h"

namespace velmedia_internal {
namespace {

class screen_grabber : public velscreen {
public:
  screen_grabber(int width, int height) : width_(width), height_(height) {}

  ~screen_grabber() override {
#ifndef _WIN32
    if (connection_)
      xcb_disconnect(connection_);
#endif
    sws_freeContext(scaler_);
    av_frame_free(&scaled_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
  }

  bool open(int source, int x, int y, int cx, int cy) {
    source_ = source;
    x_ = x;
    y_ = y;
    cx_ = cx;
    cy_ = cy;
    return open_input();
  }

  // (Re)opens the grabber on the source as it is now; a window's size is read
  // then, so a resized window is opened again.
  bool open_input() {
    const int source = source_, x = x_, y = y_, cx = cx_, cy = cy_;
    close_input();
    register_ffmpeg_devices();
#ifdef _WIN32
    const char* input_name = "gdigrab";
    const std::string url = source ? "hwnd=" + std::to_string(source) : "desktop";
#else
    const char* input_name = "x11grab";
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
      qn::log("velmedia: no display to grab");
      return false;
    }
    const std::string url = display;
    if (source && !connection_) {
      // The grabber goes on delivering a window's last picture after it closed: its state
      // (and size) is asked of the server before each grab.
      connection_ = xcb_connect(display, nullptr);
      if (xcb_connection_has_error(connection_))
        return false;
      window_ = static_cast<uint32_t>(source);
    }
    if (source)
      window_size(&opened_width_, &opened_height_);
#endif
    const AVInputFormat* input = av_find_input_format(input_name);
    if (!input) {
      qn::log("velmedia: FFmpeg has no %s input", input_name);
      return false;
    }
    AVDictionary* options = nullptr;
    // Grabs come from the sender's timer; a high rate keeps the grabber from pacing them.
    av_dict_set(&options, "framerate", "60", 0);
    av_dict_set(&options, "draw_mouse", "1", 0);
#ifndef _WIN32
    if (source)
      av_dict_set(&options, "window_id", std::to_string(static_cast<unsigned>(source)).c_str(), 0);
#endif
    if (cx > 0 && cy > 0) {
      av_dict_set(&options, "video_size", (std::to_string(cx) + "x" + std::to_string(cy)).c_str(),
                  0);
#ifdef _WIN32
      av_dict_set(&options, "offset_x", std::to_string(x).c_str(), 0);
      av_dict_set(&options, "offset_y", std::to_string(y).c_str(), 0);
#else
      av_dict_set(&options, "grab_x", std::to_string(x).c_str(), 0);
      av_dict_set(&options, "grab_y", std::to_string(y).c_str(), 0);
#endif
    }
    const int opened = avformat_open_input(&format_, url.c_str(), input, &options);
    av_dict_free(&options);
    if (opened < 0) {
      qn::log("velmedia: screen source %d does not open (%d)", source, opened);
      return false;
    }
    if (avformat_find_stream_info(format_, nullptr) < 0 || format_->nb_streams < 1)
      return false;
    const AVCodecParameters* params = format_->streams[0]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(params->codec_id);
    if (!codec)
      return false;
    decoder_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!decoder_ || !packet_ || !frame_ || avcodec_parameters_to_context(decoder_, params) < 0 ||
        avcodec_open2(decoder_, codec, nullptr) < 0)
      return false;
    return true;
  }

  int grab(uint8_t* i420, unsigned capacity) override {
    if (!i420 || capacity < velmedia_i420_size(width_, height_) || !window_shown())
      return -1;
#ifndef _WIN32
    // A window that changed its size is grabbed at its new size.
    int w = 0, h = 0;
    if (connection_ && window_size(&w, &h) && (w != opened_width_ || h != opened_height_) &&
        !open_input())
      return -1;
#endif
    if (!format_)
      return -1;
    if (av_read_frame(format_, packet_) < 0)
      return -1;
    const int sent = avcodec_send_packet(decoder_, packet_);
    av_packet_unref(packet_);
    if (sent < 0 || avcodec_receive_frame(decoder_, frame_) < 0)
      return -1;
    const int result = scale(frame_, i420) ? 0 : -1;
    av_frame_unref(frame_);
    return result;
  }

private:
  void close_input() {
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
  }

  bool window_size(int* width, int* height) {
#ifndef _WIN32
    if (!connection_)
      return false;
    xcb_get_geometry_reply_t* reply =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window_), nullptr);
    if (!reply)
      return false;
    *width = reply->width;
    *height = reply->height;
    std::free(reply);
    return true;
#else
    (void)width;
    (void)height;
    return false;
#endif
  }

  // A window source that is gone or not on screen (minimised) cannot be read.
  bool window_shown() {
#ifndef _WIN32
    if (!connection_)
      return true;
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window_), nullptr);
    const bool shown = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return shown;
#else
    return true;
#endif
  }

  // Scales the source into the picture with its own shape kept: black bars
  // fill the rest. Into a padded frame (swscale may write past a row's end),
  // then the planes are copied out tightly.
  bool scale(const AVFrame* frame, uint8_t* i420) {
    if (frame->width <= 0 || frame->height <= 0)
      return false;
    int fit_w = width_, fit_h = height_;
    if (int64_t(frame->width) * height_ > int64_t(frame->height) * width_)
      fit_h = int(int64_t(width_) * frame->height / frame->width);
    else
      fit_w = int(int64_t(height_) * frame->width / frame->height);
    fit_w = std::max(2, fit_w & ~1);
    fit_h = std::max(2, fit_h & ~1);
    const int left = ((width_ - fit_w) / 2) & ~1, top = ((height_ - fit_h) / 2) & ~1;
    scaler_ = sws_getCachedContext(scaler_, frame->width, frame->height,
                                   static_cast<AVPixelFormat>(frame->format), fit_w, fit_h,
                                   AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scaler_)
      return false;
    if (!scaled_ || scaled_->width != fit_w || scaled_->height != fit_h) {
      av_frame_free(&scaled_);
      scaled_ = av_frame_alloc();
      if (!scaled_)
        return false;
      scaled_->format = AV_PIX_FMT_YUV420P;
      scaled_->width = fit_w;
      scaled_->height = fit_h;
      if (av_frame_get_buffer(scaled_, 64) < 0) {
        av_frame_free(&scaled_);
        return false;
      }
    }
    if (sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, scaled_->data,
                  scaled_->linesize) != fit_h)
      return false;
    const int cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
    uint8_t* planes[3] = {i420, i420 + width_ * height_, i420 + width_ * height_ + cw * ch};
    const int widths[3] = {width_, cw, cw}, heights[3] = {height_, ch, ch};
    const uint8_t black[3] = {16, 128, 128};
    for (int p = 0; p < 3; ++p) {
      const int sub = p == 0 ? 1 : 2;
      if (fit_w != width_ || fit_h != height_)
        std::memset(planes[p], black[p], size_t(widths[p]) * size_t(heights[p]));
      const int rows = fit_h / sub, cols = fit_w / sub, x0 = left / sub, y0 = top / sub;
      for (int y = 0; y < rows; ++y)
        std::memcpy(planes[p] + (y0 + y) * widths[p] + x0,
                    scaled_->data[p] + y * scaled_->linesize[p], size_t(cols));
    }
    return true;
  }

  const int width_, height_;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwsContext* scaler_ = nullptr;
  AVFrame* scaled_ = nullptr;
  int source_ = 0, x_ = 0, y_ = 0, cx_ = 0, cy_ = 0;
  int opened_width_ = 0, opened_height_ = 0;
#ifndef _WIN32
  xcb_connection_t* connection_ = nullptr;
  uint32_t window_ = 0;
#endif
};

}  // namespace
}  // namespace velmedia_internal

velscreen* velscreen::create(int source, int width, int height, int x, int y, int cx, int cy) {
  if (width <= 0 || height <= 0 || (width & 1) || (height & 1) || width > 8192 || height > 8192 ||
      cx < 0 || cy < 0)
    return nullptr;
  auto* grabber = new (std::nothrow) velmedia_internal::screen_grabber(width, height);
  if (grabber && !grabber->open(source, x, y, cx, cy)) {
    delete grabber;
    return nullptr;
  }
  return grabber;
}
