// One received video stream of a remote user (kinds 1, 4, 32) from its MCU port: registers
// there, recovers packets through FEC, assembles and schedules frames (rtp_frame_assembler)
// and decodes them on their own thread (velvideo_decode). Its user_media_ctrl asks it for the
// missing numbers every 50 ms.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "libnetra/udp_client.h"
#include "media_registration.h"
#include "media_seams.h"
#include "rtp_frame_assembler.h"
#include "velmedia/velfec.h"
#include "velthread/velthread.h"
#include "velvideo_decode.h"

namespace pavo {

class video_rtp_recv : public media_receiver, public network_data, private lthread {
public:
  // Registers with `own_id` and `token`, the session's media token from the MCU's message 21.
  video_rtp_recv(const char* ip, uint16_t port, uint32_t own_id, sendmsg2ui* ui, uint32_t remote_id,
                 int kind, const pavo_wire::media_token& token = {});
  ~video_rtp_recv() override;
  video_rtp_recv(const video_rtp_recv&) = delete;
  video_rtp_recv& operator=(const video_rtp_recv&) = delete;

  bool running() const { return running_; }
  // media_receiver
  bool loss_list(int* kind, std::vector<uint16_t>* missing) override;
  // network_data: one datagram, on the socket's thread.
  void on_network_data(const uint8_t* data, unsigned length) override;

private:
  void run() override;
  void on_quit() override;
  void send_registration();
  static void on_media(const velrtp_header* header, const uint8_t* payload, unsigned length,
                       void* user);

  const uint32_t own_id_;
  const pavo_wire::media_token token_;
  const uint32_t remote_id_;
  const int kind_;
  sendmsg2ui* const ui_;
  std::atomic<bool> running_{false};
  media_registration registration_;  // receiver thread only

  std::unique_ptr<velvideo_decode> decoder_;
  std::unique_ptr<received_fec_packet> fec_;  // receiver thread only
  std::unique_ptr<udp_client> udp_;

  std::mutex queue_mutex_;
  std::condition_variable queue_changed_;
  std::deque<std::vector<uint8_t>> queue_;
  bool stopping_ = false;

  std::mutex assembler_mutex_;  // the frames and the received numbers
  rtp_frame_assembler assembler_;
  rtp_frame_assembler::output pending_;  // filled inside feed, under assembler_mutex_
};

}  // namespace pavo
