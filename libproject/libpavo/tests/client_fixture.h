// A libpavo instance against the scripted MCU, with recorded observer calls and media.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "libpavo_impl.h"
#include "pavo_test_support.h"

namespace pavo_test {

constexpr uint32_t own_id = 10;
constexpr uint32_t room_id = 77;

class ClientTest : public ::testing::Test {
protected:
  void start_client(unsigned recv_timeout_ms = 5000, uint16_t port = 0) {
    pavo_options options;
    options.recv_timeout_ms = recv_timeout_ms;
    options.factory = &factory;
    options.credential = credential;
    client.reset(libpavo::create(options, &observer, own_id, room_id, "127.0.0.1",
                                 port ? port : mcu.port(), user_role_teacher));
    ASSERT_TRUE(client);
    observer.owner = client.get();
  }
  // Started and logged in: the MCU accepted the login and the observer heard event 11.
  void log_in(unsigned recv_timeout_ms = 5000) {
    start_client(recv_timeout_ms);
    ASSERT_TRUE(observer.next_event(pavo_event_connect_state));
    ASSERT_TRUE(observer.next_event(pavo_event_user_list));
  }
  // Everything the MCU sent before this has been handled once the marker is back.
  void sync() {
    ASSERT_EQ(mcu.send(32, be32({424242})), 0);
    auto marker = observer.next("ss_start_class");
    ASSERT_TRUE(marker);
    ASSERT_EQ(marker->args[0], 424242);
  }
  // The client's messages sent before this have reached the MCU once the answer is there.
  void sync_sent() {
    ASSERT_EQ(mcu.send(100002), 0);
    ASSERT_TRUE(mcu.next(100003));
  }

  std::string credential;  // shown with the join and the login; set before start_client
  fake_mcu mcu;
  recording_observer observer;
  recording_factory factory;
  std::unique_ptr<libpavo> client;  // last: destroyed first
};

inline user_media_kind_t stream(uint32_t user, int kind) {
  return user_media_kind_t{user, kind};
}

}  // namespace pavo_test
