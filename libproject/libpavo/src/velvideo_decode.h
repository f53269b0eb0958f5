// The decoding thread of one received video stream: decodes complete frames in order and
// hands each picture to the observer as an RGB frame (event 12).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "sendmsg2ui.h"
#include "velmedia/velvideo_dec.h"
#include "velthread/velthread.h"

namespace pavo {

class velvideo_decode : public velcode_dec_data, private lthread {
public:
  velvideo_decode(sendmsg2ui* ui, uint32_t remote_id, int kind);
  ~velvideo_decode() override;
  velvideo_decode(const velvideo_decode&) = delete;
  velvideo_decode& operator=(const velvideo_decode&) = delete;

  bool ok() const { return decoder_ != nullptr; }
  // Queues one complete frame (Annex-B).
  void push(std::vector<uint8_t> frame);
  // Ends the thread; frames still queued are dropped.
  void stop();

  // velcode_dec_data: one picture, inside decode on this object's thread.
  void on_decoded_data(const uint8_t* i420, int width, int height) override;

private:
  void run() override;
  void on_quit() override;

  sendmsg2ui* const ui_;
  const uint32_t remote_id_;
  const int kind_;
  std::unique_ptr<velvideo_dec> decoder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> frames_;
  bool stopping_ = false;
};

}  // namespace pavo
