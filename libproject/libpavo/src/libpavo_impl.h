// The implementation of Libpavo: one instance per classroom visit.
//
// Threads: the connection thread (this lthread's run) joins the room, logs in and
// dispatches what the MCU sends; callers' threads run the operations; the media threads
// reach the observer through sendmsg2ui. Lock order: the remote-user table mutex is released
// before the local-media mutex is taken; the audio mutex is taken alone; no library mutex is
// held while the observer is called.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "libnetra/kcp_client.h"
#include "libpavo/libpavo.h"
#include "local_media.h"
#include "mcu_dispatch.h"
#include "mcu_events.h"
#include "mcu_link.h"
#include "media_seams.h"
#include "record_volume.h"
#include "sendmsg2mcu.h"
#include "sendmsg2ui.h"
#include "user_media_ctrl.h"
#include "velthread/velthread.h"

// What tests and tools may change; Libpavo::create uses the defaults.
struct pavo_options {
  unsigned recv_timeout_ms = kcp_default_recv_timeout_ms;
  media_factory* factory = nullptr;  // null: default_media_factory()
  // Shown to the MCU with the room join and the login; empty: none.
  std::string credential;
};

class libpavo : public Libpavo,
                public sendmsg2mcu,
                public lthread,
                public sendmsg2ui,
                private mcu_events {
public:
  static libpavo* create(const pavo_options& options, velmcu2ui* observer, unsigned user_id,
                         unsigned room_id, const char* mcu_ip, unsigned short port,
                         user_role_t role);
  ~libpavo() override;

  // Libpavo
  int media_ctrl(unsigned cmd, void* arg) override;
  int start_class() override;
  int stop_class(uint32_t user_id) override;
  int get_class_state() override;
  int application_share() override;
  int cancel_application() override;
  int reply_share(uint32_t user_id, int reply) override;
  int start_share() override;
  int stop_share(uint32_t user_id) override;
  int get_share_users() override;
  int start_tag() override;
  int stop_tag(uint32_t user_id) override;
  int get_tag_users() override;
  int cancel_share(uint32_t user_id) override;
  int send_p2p_msg(uint32_t target_id, const uint8_t* data, unsigned length) override;
  int send_p2all_msg(const uint8_t* data, unsigned length) override;
  int get_classing_user() override;

  // sendmsg2mcu
  int send_msg(uint32_t type, const void* payload, unsigned length) override;

  // sendmsg2ui
  void media_event(int event, void* data) override;
  void deliver_frame(int width, int height, uint8_t* pixels, uint32_t user_id, int kind) override;
  void net_state(uint32_t user_id, int state) override;
  int frame_format() override { return frame_format_; }

  bool connected() const { return connected_; }

protected:
  void run() override;  // the connection thread
  void on_quit() override;

private:
  libpavo(const pavo_options& options, velmcu2ui* observer, unsigned user_id, unsigned room_id,
          const char* mcu_ip, unsigned short port, user_role_t role);

  // Connection thread steps.
  bool join_room(uint16_t* room_port);
  // `words` followed by the credential (control_wire.h), when there is one.
  std::vector<uint8_t> with_credential(std::vector<uint8_t> words) const;
  kcp_client* connect_to(uint16_t port);
  void receive_loop();
  void disconnect_procedure();

  // mcu_events
  void on_logged_in() override;
  void on_user_list(const user_media_t* users, unsigned count) override;
  void on_user_left(uint32_t user_id) override;
  void on_reserved(uint32_t a, uint32_t b) override;
  uint32_t device_mask() override;
  void on_open_sender(uint32_t kind, uint16_t port) override;
  void on_close_sender(uint32_t user_id, uint32_t kind) override;
  void on_media_published(uint32_t user_id, uint32_t kind) override;
  void on_media_unpublished(uint32_t user_id, uint32_t kind) override;
  void on_user_login(const user_media_t& user) override;
  void on_retransmit(uint32_t kind, const uint16_t* seqs, unsigned count) override;
  void on_bandwidth(uint32_t kind, uint32_t value) override;
  void on_quality(uint32_t kind, uint32_t level) override;
  void on_media_port(uint32_t user_id, uint32_t kind, uint16_t port,
                     const pavo_wire::media_token& token) override;
  void on_existing_media(const user_media_t* list, unsigned count) override;
  void on_class_stopped() override;
  void on_kicked() override;

  // Media bookkeeping.
  void stop_all_media();  // every remote stream and the own senders 2, 1, 4
  void notify_stream(int event, uint32_t user_id, uint32_t kind);
  void add_audio_publisher(uint32_t user_id);
  bool remove_audio_publisher(uint32_t user_id);
  user_media_ctrl& remote_user(uint32_t user_id);  // under users_mutex_

  // media_ctrl groups.
  int device_command(unsigned cmd, void* arg);
  int open_media(const user_media_kind_t* arg);
  int close_media(const user_media_kind_t* arg);
  int subscribe(const user_media_kind_t* arg);
  int unsubscribe(const user_media_kind_t* arg);
  int share_command(unsigned cmd, void* arg);
  int send_if_connected(uint32_t type, const void* payload = nullptr, unsigned length = 0);
  int send_user_id(uint32_t type, uint32_t user_id);

  velmcu2ui* const observer_;
  const uint32_t user_id_;
  const uint32_t room_id_;
  std::string mcu_ip_;  // at most 128 bytes
  const uint16_t port_;
  const user_role_t role_;
  const unsigned recv_timeout_ms_;
  const std::string credential_;  // empty or a valid credential text
  media_factory& factory_;

  std::atomic<uint16_t> camera_index_{0};
  std::atomic<uint16_t> microphone_index_{0};
  std::atomic<int> speaker_index_{0};
  std::atomic<bool> connected_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> video_delivery_{true};
  std::atomic<int> frame_format_{pavo_frame_rgb24};  // media_cmd_frame_format

  pavo::mcu_link link_;
  pavo::mcu_dispatch dispatch_;
  std::mutex peer_send_mutex_;  // keeps the fragments of one message together on the wire

  std::mutex users_mutex_;
  std::map<uint32_t, std::unique_ptr<user_media_ctrl>> users_;

  std::mutex audio_mutex_;
  std::unique_ptr<media_receiver> audio_recv_;
  std::vector<uint32_t> audio_publishers_;

  std::mutex media_mutex_;
  std::unique_ptr<local_media> local_;
  share_source_t share_source_{0, 0};

  std::mutex volume_mutex_;
  std::unique_ptr<record_volume> volume_;
};
