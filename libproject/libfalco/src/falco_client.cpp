#include "falco_client.h"

#include <filesystem>
#include <mutex>

namespace falco {

namespace fs = std::filesystem;

namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(15);
// The server sends a working frame every few seconds while it converts; this much silence
// (or this long a stalled upload) means it is gone or hung.
constexpr auto kIdleTimeout = std::chrono::seconds(60);

std::mutex credential_mutex;
std::string credential_text;

std::string current_credential() {
  std::lock_guard<std::mutex> lock(credential_mutex);
  return credential_text;
}

// What the observer hears of the server's reason: the document's own faults
// one by one, a refusal, and the rest as a network failure worth trying again.
int observer_code(wire::ErrorCode code) {
  switch (code) {
    case wire::ErrorCode::unsupported:
      return fc_error_unsupported;
    case wire::ErrorCode::too_large:
      return fc_error_too_large;
    case wire::ErrorCode::too_many_pages:
      return fc_error_too_many_pages;
    case wire::ErrorCode::encrypted:
      return fc_error_encrypted;
    case wire::ErrorCode::timed_out:
      return fc_error_timed_out;
    case wire::ErrorCode::convert_failed:
      return fc_error_convert;
    case wire::ErrorCode::credential_refused:
    case wire::ErrorCode::not_allowed:
      return fc_error_refused;
    default:
      return fc_error_network;
  }
}

}  // namespace

falco_client::falco_client(job_settings settings, fc_observer* observer)
    : settings_(std::move(settings)), observer_(observer), chunk_(64 * 1024) {}

falco_client::~falco_client() {
  stopping_ = true;
  io_.stop();
  if (thread_.joinable())
    thread_.join();
}

void falco_client::start() {
  asio::post(io_, [this] { begin(); });
  thread_ = std::thread([this] { io_.run(); });
}

void falco_client::finish(int err, const std::string& /*why*/) {
  if (finished_)
    return;
  finished_ = true;
  asio::error_code ignored;
  timer_.cancel();
  socket_.close(ignored);
  if (stopping_)
    return;
  if (err == 0)
    observer_->on_complete();
  else
    observer_->on_error(err);
}

void falco_client::arm_idle_timer() {
  timer_.expires_after(kIdleTimeout);
  timer_.async_wait([this](const asio::error_code& ec) {
    if (!ec)
      finish(fc_error_network, "the server went silent");
  });
}

void falco_client::begin() {
  const fs::path source(settings_.source);
  std::error_code ec;
  source_size_ = fs::file_size(source, ec);
  source_.open(source, std::ios::binary);
  if (ec || !source_ || source_size_ == 0 || source_size_ > 0xffffffffull)
    return finish(fc_error_file, "cannot read the document");
  base_name_ = source.stem().string();
  fs::create_directories(settings_.out_folder, ec);
  if (ec || !fs::is_directory(settings_.out_folder, ec))
    return finish(fc_error_file, "cannot make the output folder");
  if (!wire::valid_name(source.filename().string()))
    return finish(fc_error_file, "unusable file name");

  asio::error_code bad;
  const auto address = asio::ip::make_address(settings_.host, bad);
  if (!bad)
    return connect(asio::ip::tcp::endpoint(address, settings_.port));
  auto resolver = std::make_shared<asio::ip::tcp::resolver>(io_);
  resolver->async_resolve(
      settings_.host, std::to_string(settings_.port),
      [this, resolver](const asio::error_code& e, asio::ip::tcp::resolver::results_type results) {
        if (e || results.empty())
          return finish(fc_error_network, "cannot resolve the server");
        connect(*results.begin());
      });
}

void falco_client::connect(const asio::ip::tcp::endpoint& endpoint) {
  timer_.expires_after(kConnectTimeout);
  timer_.async_wait([this](const asio::error_code& ec) {
    if (!ec)
      finish(fc_error_network, "connect timed out");
  });
  socket_.async_connect(endpoint, [this](const asio::error_code& ec) {
    if (finished_)
      return;
    if (ec)
      return finish(fc_error_network, "cannot connect");
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    arm_idle_timer();
    wire::Submit submit;
    submit.user_id = settings_.user_id;
    submit.room_id = settings_.room_id;
    submit.size = source_size_;
    submit.credential = settings_.credential;
    const std::string name = fs::path(settings_.source).filename().string();
    submit.name = name;
    out_ = wire::encode_submit(submit);
    asio::async_write(socket_, asio::buffer(out_), [this](const asio::error_code& e, size_t) {
      if (e)
        finish(fc_error_network, "cannot send");
    });
    read_more();
  });
}

void falco_client::read_more() {
  socket_.async_read_some(asio::buffer(chunk_), [this](const asio::error_code& ec, size_t n) {
    if (finished_)
      return;
    if (ec)
      return finish(fc_error_network, "connection lost");
    in_.append(chunk_.data(), n);
    std::vector<wire::Frame> frames;
    const auto decoded = wire::decode_frames(in_, wire::kMaxServerFrame, frames);
    for (const auto& frame : frames)
      if (!handle(frame) || finished_)
        return;
    if (decoded.status != wire::DecodeStatus::ok)
      return finish(fc_error_network, wire::to_string(decoded.status));
    in_.erase(0, decoded.consumed);
    read_more();
  });
}

bool falco_client::handle(const wire::Frame& frame) {
  arm_idle_timer();
  switch (frame.type) {
    case wire::FrameType::accepted:
      if (accepted_ || !frame.payload.empty())
        break;
      accepted_ = true;
      send_next_chunk();
      return true;
    case wire::FrameType::working:
      if (!accepted_ || !wire::decode_working(frame.payload))
        break;
      return true;
    case wire::FrameType::page: {
      const auto page = wire::decode_page(frame.payload);
      if (!accepted_ || sent_ != source_size_ || !page || page->index != pages_ + 1 ||
          (total_ != 0 && page->total != total_))
        break;
      total_ = page->total;
      if (!store_page(*page)) {
        finish(fc_error_file, "cannot store a page");
        return false;
      }
      return true;
    }
    case wire::FrameType::done: {
      const auto total = wire::decode_done(frame.payload);
      if (!total || *total != total_ || pages_ != total_)
        break;
      finish(0, "done");
      return false;
    }
    case wire::FrameType::error: {
      const auto error = wire::decode_error(frame.payload);
      if (!error)
        break;
      finish(observer_code(error->code), wire::to_string(error->code));
      return false;
    }
    default:
      break;
  }
  finish(fc_error_network, "protocol error");
  return false;
}

void falco_client::send_next_chunk() {
  if (sent_ >= source_size_)
    return;
  std::string bytes(
      static_cast<size_t>(std::min<std::uint64_t>(wire::kMaxDataChunk, source_size_ - sent_)),
      '\0');
  source_.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<size_t>(source_.gcount()) != bytes.size())
    return finish(fc_error_file, "the document changed while it was sent");
  out_ = wire::encode_data(bytes);
  asio::async_write(socket_, asio::buffer(out_), [this](const asio::error_code& ec, size_t) {
    if (finished_)
      return;
    if (ec)
      return finish(fc_error_network, "cannot send");
    sent_ += out_.size() - wire::kHeaderSize;
    arm_idle_timer();
    if (!stopping_)
      observer_->on_upload_progress(static_cast<unsigned>(sent_),
                                    static_cast<unsigned>(source_size_));
    send_next_chunk();
  });
}

bool falco_client::store_page(const wire::Page& page) {
  // Written whole under a temporary name first, so the folder never holds half a page.
  const fs::path target =
      fs::path(settings_.out_folder) / (base_name_ + "_" + std::to_string(page.index) + ".png");
  const fs::path part = target.string() + ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(page.png.data(), static_cast<std::streamsize>(page.png.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(part, ignored);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(part, target, ec);
  if (ec) {
    fs::remove(part, ec);
    return false;
  }
  pages_ = page.index;
  if (!stopping_)
    observer_->on_progress(static_cast<int>(page.index), static_cast<int>(page.total),
                           target.string().c_str());
  return true;
}

}  // namespace falco

namespace qn {

void set_falco_credential(const char* credential) {
  std::lock_guard<std::mutex> lock(falco::credential_mutex);
  falco::credential_text = credential ? credential : "";
}

void* create_falco_client(const char* host, unsigned short port, const char* srcPath,
                          const char* outFolder, unsigned userId, unsigned roomId,
                          fc_observer* observer) {
  if (!host || !*host || port == 0 || !srcPath || !*srcPath || !outFolder || !*outFolder ||
      !observer)
    return nullptr;
  falco::job_settings settings;
  settings.host = host;
  settings.port = port;
  settings.source = srcPath;
  settings.out_folder = outFolder;
  settings.user_id = userId;
  settings.room_id = roomId;
  settings.credential = falco::current_credential();
  auto* client = new (std::nothrow) falco::falco_client(std::move(settings), observer);
  if (client)
    client->start();
  return client;
}

void destory_falco_client(void* handle) {
  delete static_cast<falco::falco_client*>(handle);
}

}  // namespace qn
