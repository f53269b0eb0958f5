#include "service/Publish.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>

#include "Schema.h"
#include "tavsrv/Database.h"

namespace fs = std::filesystem;

namespace tavsvc {

namespace {

bool validVersion(const std::string& version) {
  static const std::regex pattern("[0-9]{1,9}(\\.[0-9]{1,9}){0,7}");
  return std::regex_match(version, pattern);
}

bool validSignature(const std::string& text) {
  unsigned char bytes[crypto_sign_BYTES];
  size_t length = 0;
  return text.size() == 88 &&
         sodium_base642bin(bytes, sizeof bytes, text.data(), text.size(), nullptr, &length, nullptr,
                           sodium_base64_VARIANT_ORIGINAL) == 0 &&
         length == sizeof bytes;
}

// Copies to a hidden name, syncs, then renames: the file is served whole or not at all.
bool placeFile(const fs::path& from, const fs::path& to, std::string* error) {
  const fs::path part = to.parent_path() / ("." + to.filename().string() + ".part");
  std::error_code ec;
  fs::copy_file(from, part, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    *error = "cannot copy " + from.string() + ": " + ec.message();
    return false;
  }
  const int fd = ::open(part.c_str(), O_RDONLY);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0)
    ::close(fd);
  fs::rename(part, to, ec);
  if (!synced || ec) {
    fs::remove(part, ec);
    *error = "cannot put " + to.string() + " in place";
    return false;
  }
  return true;
}

}  // namespace

bool publishRelease(const std::string& dataDir, const std::string& database, const Release& release,
                    std::string* url, std::string* error) {
  if (release.type.empty() || release.type.size() > 20) {
    *error = "bad type";
    return false;
  }
  if (!validVersion(release.version)) {
    *error = "bad version '" + release.version + "' (numbers joined by '.')";
    return false;
  }
  if (sodium_init() < 0 || !validSignature(release.signature)) {
    *error = "bad signature (base64 of 64 bytes expected)";
    return false;
  }
  std::error_code ec;
  if (!fs::is_regular_file(release.installer, ec)) {
    *error = "no installer file " + release.installer;
    return false;
  }
  const uint64_t size = fs::file_size(release.installer, ec);
  if (ec || size == 0 || size > kMaxInstallerBytes) {
    *error = "the installer must hold 1 byte to 512 MiB";
    return false;
  }
  const std::string store =
      database.empty() ? (fs::path(dataDir) / "service.db").string() : database;
  const auto noStore = [&] {
    *error = "no store in " + tavsrv::describeLocation(store) + " (start the service on it once)";
    return false;
  };
  // Opening an SQLite file that is not there would make one.
  if (!tavsrv::isPostgresUrl(store) && !fs::exists(store, ec))
    return noStore();
  const std::string name = "AutoUpdate-" + release.version;
  const fs::path downloads = fs::path(dataDir) / "download";
  fs::create_directories(downloads, ec);
  if (!placeFile(release.installer, downloads / name, error))
    return false;
  try {
    const auto connection = tavsrv::openConnection(store);
    tavsrv::Connection& db = *connection;
    if (db.schemaVersion() == 0)
      return noStore();
    ensureSchema(db);
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    db.run(
        "INSERT INTO software_versions(type, version, url, signature, created_ms) "
        "VALUES(?1, ?2, ?3, ?4, ?5)",
        release.type, release.version, "download/" + name, release.signature, now);
  } catch (const std::exception& e) {
    *error = std::string("store: ") + e.what();
    return false;
  }
  *url = "download/" + name;
  return true;
}

int publishCommand(int argc, const char* const* argv) {
  tavsrv::Flags flags;
  flags.define("data", "tav-service-data", "the service's data folder");
  flags.define("database", "", "the service's PostgreSQL store, when it has one (--database)");
  flags.define("type", "pc", "the client kind");
  flags.define("version", "", "the release's version, e.g. 1.0.1");
  flags.define("installer", "", "the installer file (AutoUpdate)");
  flags.define("signature", "", "its signature, base64 (tav-update-sign sign KEY FILE)");
  flags.define("signature-file", "", "a file holding the signature instead");
  std::string error;
  if (!flags.parse(argc, argv, &error)) {
    std::cerr << "tav-service publish: " << error << "\n";
    return 2;
  }
  if (flags.helpRequested()) {
    std::cout << flags.usage("tav-service publish",
                             "Publishes a client release: getSoftwareVersionsTop answers it and "
                             "the service serves its installer.");
    return 0;
  }
  Release release;
  release.type = flags.get("type");
  release.version = flags.get("version");
  release.installer = flags.get("installer");
  release.signature = flags.get("signature");
  if (!flags.get("signature-file").empty()) {
    std::ifstream in(flags.get("signature-file"));
    if (!(in >> release.signature)) {
      std::cerr << "tav-service publish: cannot read " << flags.get("signature-file") << "\n";
      return 2;
    }
  }
  std::string url;
  if (!publishRelease(flags.get("data"), flags.get("database"), release, &url, &error)) {
    std::cerr << "tav-service publish: " << error << "\n";
    return 1;
  }
  std::cout << "tav-service publish: " << release.version << " served as " << url << "\n";
  return 0;
}

}  // namespace tavsvc
