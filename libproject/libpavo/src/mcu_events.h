// What the dispatch of MCU messages asks of the library beyond plain observer calls: the
// state changes behind messages 0, 1, 6, 9-17, 21, 29, 34 and 70. Called on the connection
// thread with fields already checked and converted to host order.
#pragma once

#include <cstdint>

#include "control_wire.h"
#include "libpavo/libpavo.h"

class mcu_events {
public:
  virtual ~mcu_events() = default;
  virtual void on_logged_in() = 0;                                                      // 0
  virtual void on_user_list(const user_media_t* users, unsigned count) = 0;             // 0, 6
  virtual void on_user_left(uint32_t user_id) = 0;                                      // 1
  virtual void on_reserved(uint32_t a, uint32_t b) = 0;                                 // 3
  virtual uint32_t device_mask() = 0;                                                   // 8
  virtual void on_open_sender(uint32_t kind, uint16_t port) = 0;                        // 9
  virtual void on_close_sender(uint32_t user_id, uint32_t kind) = 0;                    // 10
  virtual void on_media_published(uint32_t user_id, uint32_t kind) = 0;                 // 11
  virtual void on_media_unpublished(uint32_t user_id, uint32_t kind) = 0;               // 12
  virtual void on_user_login(const user_media_t& user) = 0;                             // 13
  virtual void on_retransmit(uint32_t kind, const uint16_t* seqs, unsigned count) = 0;  // 14
  virtual void on_bandwidth(uint32_t kind, uint32_t value) = 0;                         // 16
  virtual void on_quality(uint32_t kind, uint32_t level) = 0;                           // 17
  virtual void on_media_port(uint32_t user_id, uint32_t kind, uint16_t port,            // 21
                             const pavo_wire::media_token& token) = 0;
  virtual void on_existing_media(const user_media_t* list, unsigned count) = 0;         // 29
  virtual void on_class_stopped() = 0;  // 34, before ss_stop_class
  virtual void on_kicked() = 0;         // 70
};
