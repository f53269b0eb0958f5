// Publishing a client release: its installer goes into the service's download
// folder and its version, with the installer's signature, into the store, so
// that getSoftwareVersionsTop answers it from then on (a running service too).
#pragma once

#include <cstdint>
#include <string>

#include "tavsrv/Flags.h"

namespace tavsvc {

struct Release {
  std::string type = "pc";
  std::string version;    // "1.0.1": one to eight numbers joined by "."
  std::string installer;  // the installer file to publish
  std::string signature;  // its Ed25519 signature, base64 (as tav-update-sign prints it)
};

// Largest installer accepted (the updater refuses larger ones too).
constexpr uint64_t kMaxInstallerBytes = 512ull << 20;

// Publishes into the service's store, which the service must have made
// (started once): database (a PostgreSQL URL), or when empty the SQLite file of
// dataDir. The installer goes to dataDir and is served as
// "download/AutoUpdate-<version>"; *url receives that path. False with *error
// on a bad value or a failing step; nothing is recorded unless the file is in place.
bool publishRelease(const std::string& dataDir, const std::string& database, const Release& release,
                    std::string* url, std::string* error);

// "tav-service publish ...": parses the flags and publishes. Returns the exit code.
int publishCommand(int argc, const char* const* argv);

}  // namespace tavsvc
