#include "picture_fetcher.h"

#include <httplib.h>

#include <QImageReader>
#include <filesystem>
#include <fstream>

namespace centra_impl {

namespace fs = std::filesystem;

namespace {

// The file server answers within this time or the picture is not had.
constexpr time_t kTimeoutSeconds = 20;

std::string percent_encode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char ch : text) {
    if (std::isalnum(ch) || ch == '-' || ch == '_' || ch == '.' || ch == '~') {
      out.push_back(static_cast<char>(ch));
    } else {
      out.push_back('%');
      out.push_back(hex[ch >> 4]);
      out.push_back(hex[ch & 15]);
    }
  }
  return out;
}

}  // namespace

picture_fetcher::picture_fetcher(std::string file_server, std::string ticket, uint32_t room,
                                 std::string cache_dir, done on_done)
    : host_(file_server.substr(0, file_server.rfind(':'))),
      port_(
          static_cast<uint16_t>(file_server.rfind(':') == std::string::npos
                                    ? 0
                                    : std::atoi(file_server.c_str() + file_server.rfind(':') + 1))),
      ticket_(std::move(ticket)),
      room_(room),
      cache_dir_(std::move(cache_dir)),
      done_(std::move(on_done)) {
  thread_ = std::thread([this] { run(); });
}

picture_fetcher::~picture_fetcher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool picture_fetcher::plain_name(const std::string& name) {
  return !name.empty() && name.size() <= 200 && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

void picture_fetcher::want_remote(const std::string& key, uint32_t uploader,
                                  const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!asked_.insert(key).second)
    return;
  queue_.push_back(job{key, uploader, name});
  wake_.notify_one();
}

void picture_fetcher::want_local(const std::string& key, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!asked_.insert(key).second)
    return;
  queue_.push_back(job{key, 0, path});
  wake_.notify_one();
}

void picture_fetcher::run() {
  for (;;) {
    job j;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_)
        return;
      j = queue_.front();
      queue_.pop_front();
    }
    const QImage picture = fetch(j);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_)
        return;
      // A picture that could not be had may be asked again.
      if (picture.isNull())
        asked_.erase(j.key);
    }
    done_(j.key, picture);
  }
}

QImage picture_fetcher::decode(const std::string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec || size == 0 || static_cast<int64_t>(size) > kMaxBytes)
    return QImage();
  QImageReader reader(QString::fromStdString(path));
  const QSize declared = reader.size();
  if (!declared.isValid() || declared.width() > kMaxSide || declared.height() > kMaxSide ||
      int64_t{declared.width()} * declared.height() > kMaxPixels)
    return QImage();
  return reader.read();
}

QImage picture_fetcher::fetch(const job& j) {
  if (j.uploader == 0)
    return decode(j.name);
  if (!plain_name(j.name) || host_.empty() || port_ == 0)
    return QImage();
  const fs::path local = fs::path(cache_dir_) / std::to_string(j.uploader) / j.name;
  std::error_code ec;
  if (fs::exists(local, ec))
    return decode(local.string());
  fs::create_directories(local.parent_path(), ec);
  httplib::Client client(host_, port_);
  client.set_connection_timeout(kTimeoutSeconds);
  client.set_read_timeout(kTimeoutSeconds);
  const std::string part = local.string() + ".part";
  std::ofstream out(part, std::ios::binary | std::ios::trunc);
  int64_t received = 0;
  const auto res =
      client.Get("/uds/upload/room/" + std::to_string(room_) + "/" + std::to_string(j.uploader) +
                     "/" + percent_encode(j.name),
                 httplib::Headers{{"X-Tav-Ticket", ticket_}}, [&](const char* data, size_t length) {
                   received += static_cast<int64_t>(length);
                   if (received > kMaxBytes)
                     return false;
                   out.write(data, static_cast<std::streamsize>(length));
                   return static_cast<bool>(out);
                 });
  out.close();
  if (!res || res->status != 200 || received > kMaxBytes) {
    fs::remove(part, ec);
    return QImage();
  }
  fs::rename(part, local, ec);
  return ec ? QImage() : decode(local.string());
}

}  // namespace centra_impl
