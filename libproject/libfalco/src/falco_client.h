// One conversion: the document sent to the conversion server, the pages it streams back
// stored in the output folder, everything reported to the fc_observer from the client's
// own thread (an asio io_context that thread runs).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <asio.hpp>

#include "falco_wire.h"
#include "libfalco/libfalco.h"

namespace falco {

struct job_settings {
  std::string host;
  std::uint16_t port = 0;
  std::string source;      // the document, local 8-bit path
  std::string out_folder;  // pages go here as "<base>_<n>.png"
  std::uint32_t user_id = 0;
  std::uint32_t room_id = 0;
  std::string credential;
};

class falco_client {
public:
  falco_client(job_settings settings, fc_observer* observer);
  // Stops at once: the thread is told to stop and joined; no observer call follows.
  ~falco_client();
  falco_client(const falco_client&) = delete;
  falco_client& operator=(const falco_client&) = delete;

  void start();

private:
  void begin();
  void connect(const asio::ip::tcp::endpoint& endpoint);
  void read_more();
  bool handle(const wire::Frame& frame);
  void send_next_chunk();
  bool store_page(const wire::Page& page);
  void arm_idle_timer();
  // The one terminal report: error (err > 0) or completion (err == 0).
  void finish(int err, const std::string& why);

  job_settings settings_;
  fc_observer* observer_;
  std::string base_name_;
  std::ifstream source_;
  std::uint64_t source_size_ = 0;
  std::uint64_t sent_ = 0;

  asio::io_context io_;
  asio::ip::tcp::socket socket_{io_};
  asio::steady_timer timer_{io_};
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  bool finished_ = false;

  std::string in_;           // bytes received, not yet a complete frame
  std::vector<char> chunk_;  // read buffer
  std::string out_;          // the frame being written
  bool accepted_ = false;
  std::uint32_t total_ = 0;
  std::uint32_t pages_ = 0;
};

}  // namespace falco
