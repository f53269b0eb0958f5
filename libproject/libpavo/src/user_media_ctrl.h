// One remote user's received video streams (kinds 1, 4, 32), each from the UDP port the
// MCU named in message 21. Its own thread runs a 50 ms clock: each tick it collects every
// receiver's missing packet numbers and asks the MCU for them (message 15). Deleting it stops
// the clock and every receiver.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "control_wire.h"
#include "media_seams.h"
#include "velthread/velthread.h"

class user_media_ctrl : private lthread {
public:
  user_media_ctrl(uint32_t remote_id, uint32_t own_id, sendmsg2ui* ui, sendmsg2mcu* mcu,
                  media_factory& factory);
  ~user_media_ctrl() override;
  user_media_ctrl(const user_media_ctrl&) = delete;
  user_media_ctrl& operator=(const user_media_ctrl&) = delete;

  // Starts the receiver of `kind` unless one runs, registering with the session's media
  // token. 0 started, -1 present or not made.
  int start_receiver(const char* ip, uint16_t port, int kind,
                     const pavo_wire::media_token& token = {});
  // Stops the receiver of `kind`; true when there was one.
  bool stop_receiver(int kind);
  bool has(int kind) const;
  // The kinds with a receiver, or-ed.
  uint32_t kinds() const;

  // One tick of the clock: the loss reports of every receiver (the thread calls it; tests too).
  void send_loss_reports();

  // A report of more numbers than this is not sent.
  static constexpr std::size_t max_report_numbers = pavo_wire::loss_report_max_numbers;

private:
  void run() override;
  void on_quit() override { clock_.post(); }

  const uint32_t remote_id_;
  const uint32_t own_id_;
  sendmsg2ui* ui_;
  sendmsg2mcu* mcu_;
  media_factory& factory_;
  mutable std::mutex mutex_;
  std::map<int, std::unique_ptr<media_receiver>> receivers_;
  velsemaphore clock_;  // waited on for 50 ms; posted to stop
};
