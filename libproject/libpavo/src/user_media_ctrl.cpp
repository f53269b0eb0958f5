#include "user_media_ctrl.h"

#include <vector>

#include "control_wire.h"
#include "wirebytes/byte_writer.h"
#include "woblog/woblog.h"

namespace {
constexpr unsigned loss_report_period_ms = 50;
}  // namespace

user_media_ctrl::user_media_ctrl(uint32_t remote_id, uint32_t own_id, sendmsg2ui* ui,
                                 sendmsg2mcu* mcu, media_factory& factory)
    : remote_id_(remote_id), own_id_(own_id), ui_(ui), mcu_(mcu), factory_(factory) {
  if (start() != 0)
    qn::log("user %u: no loss report thread", remote_id);
}

user_media_ctrl::~user_media_ctrl() {
  quit();  // the clock first: it reads the receivers
  std::map<int, std::unique_ptr<media_receiver>> receivers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    receivers.swap(receivers_);
  }
}

void user_media_ctrl::run() {
  while (!quit_requested()) {
    if (clock_.wait(loss_report_period_ms) == 0 && quit_requested())
      return;
    send_loss_reports();
  }
}

void user_media_ctrl::send_loss_reports() {
  struct report {
    int kind;
    std::vector<uint16_t> missing;
  };
  std::vector<report> reports;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : receivers_) {
      report r{0, {}};
      if (entry.second->loss_list(&r.kind, &r.missing) && !r.missing.empty() &&
          r.missing.size() <= max_report_numbers)
        reports.push_back(std::move(r));
    }
  }
  // Sent outside the lock: a stop of a receiver never waits for the connection.
  for (const report& r : reports) {
    std::vector<uint8_t> payload;
    payload.reserve(pavo_wire::loss_report_header + 2 * r.missing.size());
    wirebytes::byte_writer out(payload);
    out.u32(remote_id_).u32(static_cast<uint32_t>(r.kind));
    out.u32(static_cast<uint32_t>(r.missing.size())).u32(own_id_);
    for (uint16_t sequence : r.missing)
      out.u16(sequence);
    mcu_->send_msg(pavo_wire::msg_loss_report, payload.data(),
                   static_cast<unsigned>(payload.size()));
  }
}

int user_media_ctrl::start_receiver(const char* ip, uint16_t port, int kind,
                                    const pavo_wire::media_token& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (receivers_.count(kind))
    return -1;
  auto receiver =
      factory_.create_video_receiver(ip, port, own_id_, token, remote_id_, kind, ui_, mcu_);
  if (!receiver)
    return -1;
  receivers_[kind] = std::move(receiver);
  return 0;
}

bool user_media_ctrl::stop_receiver(int kind) {
  std::unique_ptr<media_receiver> receiver;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = receivers_.find(kind);
    if (it == receivers_.end())
      return false;
    receiver = std::move(it->second);
    receivers_.erase(it);
  }
  return true;  // the receiver stops as it goes out of scope, outside the lock
}

bool user_media_ctrl::has(int kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return receivers_.count(kind) != 0;
}

uint32_t user_media_ctrl::kinds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t kinds = 0;
  for (const auto& receiver : receivers_)
    kinds |= static_cast<uint32_t>(receiver.first);
  return kinds;
}
