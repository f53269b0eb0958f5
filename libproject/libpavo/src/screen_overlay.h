// The whiteboard's drawing layer over the own screen share (event 18). The screen sender's
// encoding thread asks the observer for the layer at most every 200 ms and keeps the answer in
// between; an answer is converted once to the I420 planes of the picture size (premultiplied
// values and alpha per sample) and then laid over every captured picture before it is encoded.
// Everything here runs on that one thread; the observer is called without a lock held.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "sendmsg2ui.h"

namespace pavo {

class screen_overlay {
public:
  using clock = std::chrono::steady_clock;

  // The layer the observer draws: 1920x1080 words of Qt's premultiplied ARGB32.
  static constexpr int layer_width = 1920;
  static constexpr int layer_height = 1080;
  static constexpr unsigned layer_capacity = layer_width * layer_height * 4;
  // At most five questions a second; the last answer holds in between.
  static constexpr clock::duration ask_interval = std::chrono::milliseconds(200);

  // Asks the observer when the last answer is older than ask_interval (or there was none),
  // then lays the layer over `i420` (width x height) if it has anything to lay.
  void apply(sendmsg2ui* ui, uint8_t* i420, int width, int height, clock::time_point now);

  // For tests: how often the observer was asked, and whether the last answer is laid over.
  int asks() const { return asks_; }
  bool active() const { return layer_len_ > 0; }

private:
  void ask(sendmsg2ui* ui);
  // The last answer in the planes of a width x height picture.
  void convert(int width, int height);
  void blend(uint8_t* i420, int width, int height) const;

  std::unique_ptr<uint8_t[]> layer_;  // the observer writes here; made at the first question
  int layer_w_ = 0, layer_h_ = 0;
  int layer_len_ = 0;  // 0: nothing to lay over
  bool asked_ = false;
  clock::time_point last_ask_{};
  int asks_ = 0;

  // The converted layer, for pictures of conv_w_ x conv_h_ (0 until converted).
  int conv_w_ = 0, conv_h_ = 0;
  std::vector<uint8_t> y_value_, y_alpha_;            // conv_w_ x conv_h_
  std::vector<uint8_t> u_value_, v_value_, c_alpha_;  // the chroma planes' size
  // The luma rectangle holding every covered sample, [x0, x1) x [y0, y1); empty: x0 >= x1.
  int x0_ = 0, x1_ = 0, y0_ = 0, y1_ = 0;
};

}  // namespace pavo
