#include "recording_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

namespace centra_impl {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr const char* kMetaName = "record.json";
constexpr const char* kFileName = "class.mp4";
// Longest record.json read: it is small; anything larger is not ours.
constexpr std::uintmax_t kMaxMetaBytes = 64 * 1024;

std::string stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace

std::optional<recording_folder> recording_folder::make(const std::string& root, uint32_t room,
                                                       uint32_t user) {
  std::random_device random;
  std::ostringstream name;
  name << room << "-" << user << "-" << stamp() << "-" << std::hex << (random() & 0xffffff);
  recording_folder folder;
  folder.path_ = (fs::path(root) / name.str()).string();
  std::error_code ec;
  fs::create_directories(folder.path_, ec);
  if (ec)
    return std::nullopt;
  folder.meta_.room = room;
  folder.meta_.user = user;
  if (!folder.save())
    return std::nullopt;
  return folder;
}

std::optional<recording_folder> recording_folder::of_file(const std::string& file) {
  const fs::path path(file);
  if (path.filename() != kFileName)
    return std::nullopt;
  recording_folder folder;
  folder.path_ = path.parent_path().string();
  if (!folder.load())
    return std::nullopt;
  return folder;
}

std::optional<recording_folder> recording_folder::newest_unpublished(const std::string& root,
                                                                     uint32_t room, uint32_t user) {
  std::optional<recording_folder> newest;
  fs::file_time_type newestTime{};
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root, ec)) {
    if (!entry.is_directory(ec))
      continue;
    recording_folder folder;
    folder.path_ = entry.path().string();
    if (!folder.load() || folder.meta_.room != room || folder.meta_.user != user)
      continue;
    const auto size = fs::file_size(folder.file(), ec);
    if (ec || size == 0)
      continue;
    const auto time = fs::last_write_time(folder.file(), ec);
    if (!ec && (!newest || time > newestTime)) {
      newest = folder;
      newestTime = time;
    }
  }
  return newest;
}

bool recording_folder::load() {
  const fs::path meta = fs::path(path_) / kMetaName;
  std::error_code ec;
  const auto size = fs::file_size(meta, ec);
  if (ec || size > kMaxMetaBytes)
    return false;
  std::ifstream in(meta);
  std::stringstream text;
  text << in.rdbuf();
  const json j = json::parse(text.str(), nullptr, false);
  if (!j.is_object())
    return false;
  try {
    meta_.room = j.at("room").get<uint32_t>();
    meta_.user = j.at("user").get<uint32_t>();
    meta_.seconds = j.value("seconds", 0);
    meta_.ended = j.value("ended", false);
    meta_.upload = j.value("upload", "");
    meta_.description = j.value("description", "");
  } catch (const json::exception&) {
    return false;
  }
  return true;
}

bool recording_folder::save() const {
  const json j = {{"room", meta_.room},       {"user", meta_.user},
                  {"seconds", meta_.seconds}, {"ended", meta_.ended},
                  {"upload", meta_.upload},   {"description", meta_.description}};
  const std::string text = j.dump();
  const fs::path target = fs::path(path_) / kMetaName;
  const std::string temp = target.string() + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                       ::fsync(fd) == 0;
  ::close(fd);
  std::error_code ec;
  if (written)
    fs::rename(temp, target, ec);
  return written && !ec;
}

bool recording_folder::remove() const {
  std::error_code ec;
  fs::remove_all(path_, ec);
  return !ec;
}

}  // namespace centra_impl
