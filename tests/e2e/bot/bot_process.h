// pavo-bot as a child process: commands to its standard input, its output read line by line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "eventually.h"

namespace bot_test {

class bot_process {
public:
  explicit bot_process(const std::vector<std::string>& args);
  ~bot_process();  // closes its input and waits for it
  bool started() const { return pid_ > 0; }

  bool send(const std::string& command);
  // The first line starting with `prefix` (earlier lines that do not match are kept for
  // later calls); empty when the limit passes or the output ends.
  std::optional<std::string> expect(const std::string& prefix,
                                    std::chrono::milliseconds limit = testsupport::wait_limit());
  // Closes its input and returns its exit code (128 + signal when killed).
  int finish();

private:
  bool read_more(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string partial_;
  std::deque<std::string> lines_;
  int exit_code_ = -1;
};

std::string bot_program();

}  // namespace bot_test
