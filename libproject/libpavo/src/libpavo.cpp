// Libpavo: creation, teardown, the class-control operations and peer messages.
#include "libpavo_impl.h"

#include <cstring>

#include "control_wire.h"
#include "frame_buffer.h"
#include "pavo_log.h"
#include "peer_sender.h"
#include "velmedia/velmedia.h"
#include "video_param.h"
#include "wirebytes/byte_order.h"
#include "woblog/woblog.h"

using namespace pavo;
using namespace pavo_wire;

namespace {
constexpr std::size_t max_address = 128;
}

Libpavo* Libpavo::create(velmcu2ui* observer, unsigned user_id, unsigned room_id,
                         const char* mcu_ip, unsigned short port, user_role_t role) {
  return libpavo::create(pavo_options{}, observer, user_id, room_id, mcu_ip, port, role);
}

Libpavo* Libpavo::create(velmcu2ui* observer, unsigned user_id, unsigned room_id,
                         const char* mcu_ip, unsigned short port, user_role_t role,
                         const char* credential) {
  pavo_options options;
  if (credential)
    options.credential.assign(credential, strnlen(credential, credential_max + 1));
  return libpavo::create(options, observer, user_id, room_id, mcu_ip, port, role);
}

void Libpavo::destory(Libpavo* instance) {
  delete instance;
}

libpavo* libpavo::create(const pavo_options& options, velmcu2ui* observer, unsigned user_id,
                         unsigned room_id, const char* mcu_ip, unsigned short port,
                         user_role_t role) {
  if (!video_param())
    return nullptr;
  if (!observer || !mcu_ip)
    return nullptr;
  start_log();
  velmedia_init();
  libpavo* instance = new libpavo(options, observer, user_id, room_id, mcu_ip, port, role);
  instance->start();
  qn::log("libpavo userid:%u roomid:%u, mcuip:%s port:%hu", user_id, room_id,
          instance->mcu_ip_.c_str(), port);
  if (instance->credential_.empty())
    qn::log(options.credential.empty() ? "no room credential: the MCU may refuse the join"
                                       : "the room credential is malformed; not sent");
  return instance;
}

libpavo::libpavo(const pavo_options& options, velmcu2ui* observer, unsigned user_id,
                 unsigned room_id, const char* mcu_ip, unsigned short port, user_role_t role)
    : observer_(observer),
      user_id_(user_id),
      room_id_(room_id),
      mcu_ip_(mcu_ip, strnlen(mcu_ip, max_address)),
      port_(port),
      role_(role),
      recv_timeout_ms_(options.recv_timeout_ms),
      credential_(credential_text_ok(options.credential.data(),
                                     static_cast<unsigned>(options.credential.size()))
                      ? options.credential
                      : std::string()),
      factory_(options.factory ? *options.factory : default_media_factory()),
      dispatch_(*observer, *this, *this) {
  running_ = true;
  local_ = std::make_unique<local_media>(user_id_, factory_, this);
}

libpavo::~libpavo() {
  // 1-3: stop running, say goodbye, join the connection thread.
  running_ = false;
  link_.send_msg(msg_leave, nullptr, 0);
  link_.shutdown();
  quit();
  // 4-5: media, then the own senders' owner.
  stop_all_media();
  {
    std::lock_guard<std::mutex> lock(media_mutex_);
    local_.reset();
  }
  {
    std::lock_guard<std::mutex> lock(volume_mutex_);
    volume_.reset();
  }
  velmedia_destroy();
  // 7: the connection and the tables go with the members.
  link_.release();
  qn::log("libpavo %u left room %u", user_id_, room_id_);
}

void libpavo::on_quit() {
  link_.shutdown();
}

int libpavo::send_msg(uint32_t type, const void* payload, unsigned length) {
  return link_.send_msg(type, payload, length);
}

int libpavo::send_if_connected(uint32_t type, const void* payload, unsigned length) {
  if (!connected_)
    return -1;
  return send_msg(type, payload, length);
}

int libpavo::send_user_id(uint32_t type, uint32_t user_id) {
  uint8_t payload[4];
  wirebytes::put_be32(payload, user_id);
  return send_if_connected(type, payload, sizeof payload);
}

int libpavo::start_class() {
  return send_if_connected(msg_start_class);
}

int libpavo::stop_class(uint32_t user_id) {
  if (!connected_)
    return -1;
  stop_all_media();
  return send_user_id(msg_stop_class, user_id);
}

int libpavo::get_class_state() {
  return send_if_connected(msg_class_state);
}

int libpavo::application_share() {
  return send_if_connected(msg_application_share);
}

int libpavo::cancel_application() {
  return send_if_connected(msg_cancel_application);
}

int libpavo::reply_share(uint32_t user_id, int reply) {
  uint8_t payload[8];
  wirebytes::put_be32(payload, static_cast<uint32_t>(reply));
  wirebytes::put_be32(payload + 4, user_id);
  return send_if_connected(msg_reply_share, payload, sizeof payload);
}

int libpavo::start_share() {
  return send_if_connected(msg_start_share);
}

int libpavo::stop_share(uint32_t user_id) {
  return send_user_id(msg_stop_share, user_id);
}

int libpavo::get_share_users() {
  return send_if_connected(msg_share_users);
}

int libpavo::start_tag() {
  return send_if_connected(msg_start_tag);
}

int libpavo::stop_tag(uint32_t user_id) {
  return send_user_id(msg_stop_tag, user_id);
}

int libpavo::get_tag_users() {
  return send_if_connected(msg_tag_users);
}

int libpavo::cancel_share(uint32_t user_id) {
  return send_user_id(msg_cancel_share, user_id);
}

int libpavo::send_p2p_msg(uint32_t target_id, const uint8_t* data, unsigned length) {
  if (!connected_)
    return -1;
  std::lock_guard<std::mutex> lock(peer_send_mutex_);
  return send_peer_message(*this, false, target_id, data, length);
}

int libpavo::send_p2all_msg(const uint8_t* data, unsigned length) {
  if (!connected_)
    return -1;
  std::lock_guard<std::mutex> lock(peer_send_mutex_);
  return send_peer_message(*this, true, user_id_, data, length);
}

int libpavo::get_classing_user() {
  return send_if_connected(msg_classing_user);
}

void libpavo::media_event(int event, void* data) {
  if (running_)
    observer_->on_media_event(event, data);
}

void libpavo::deliver_frame(int width, int height, uint8_t* pixels, uint32_t user_id, int kind) {
  if (!running_ || !video_delivery_) {
    frame_free(pixels);
    return;
  }
  video_frame_t frame{width, height, pixels, user_id, kind};
  observer_->on_media_event(pavo_event_video_frame, &frame);
}

void libpavo::net_state(uint32_t user_id, int state) {
  if (running_)
    observer_->user_net_state(user_id, state);
}
