#include <gtest/gtest.h>
#include <sodium.h>

#include <filesystem>
#include <fstream>

#include "Schema.h"
#include "ServiceHarness.h"
#include "service/Publish.h"

namespace fs = std::filesystem;
using namespace tavtest;
using tavsvc::publishRelease;
using tavsvc::Release;

namespace {
// A signature of the right shape; the service keeps it, the updater checks it.
std::string someSignature() {
  unsigned char bytes[crypto_sign_BYTES];
  randombytes_buf(bytes, sizeof bytes);
  char text[sodium_base64_ENCODED_LEN(crypto_sign_BYTES, sodium_base64_VARIANT_ORIGINAL)];
  sodium_bin2base64(text, sizeof text, bytes, sizeof bytes, sodium_base64_VARIANT_ORIGINAL);
  return text;
}

json versionTop(ServiceHarness& service) {
  return service.post("svs/service/software/getSoftwareVersionsTop", "type=pc");
}
}  // namespace

TEST(PublishTest, APublishedReleaseIsAnsweredWithItsSignatureAndServed) {
  ASSERT_GE(sodium_init(), 0);
  ServiceHarness service;
  const fs::path data = service.dataDir() / "data";
  const fs::path installer = service.dataDir() / "AutoUpdate";
  std::ofstream(installer, std::ios::binary) << "#!/bin/sh\n# TAVFILEVERSION:1.0.1\n";
  const std::string signature = someSignature();

  std::string url, error;
  ASSERT_TRUE(publishRelease(data.string(), service.database(),
                             {"pc", "1.0.1", installer.string(), signature}, &url, &error))
      << error;
  EXPECT_EQ(url, "download/AutoUpdate-1.0.1");

  // The running service answers it at once.
  const json answer = versionTop(service);
  EXPECT_EQ(answer["code"], 0);
  EXPECT_EQ(answer["info"], "1.0.1");
  EXPECT_EQ(answer["signature"], signature);
  EXPECT_EQ(answer["body"]["signature"], signature);
  const std::string prefix = "http://127.0.0.1:" + std::to_string(service.port()) + "/";
  ASSERT_EQ(answer["url"], prefix + url);
  auto file = service.get(url);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->status, 200);
  EXPECT_EQ(file->body, "#!/bin/sh\n# TAVFILEVERSION:1.0.1\n");
}

TEST(PublishTest, BadReleasesAreRefusedAndLeaveTheAnswerAsItWas) {
  ASSERT_GE(sodium_init(), 0);
  ServiceHarness service;
  const fs::path data = service.dataDir() / "data";
  const fs::path installer = service.dataDir() / "AutoUpdate";
  std::ofstream(installer, std::ios::binary) << "installer";
  const fs::path empty = service.dataDir() / "Empty";
  std::ofstream{empty};
  const std::string signature = someSignature();

  const std::vector<Release> bad = {
      {"pc", "1.0.x", installer.string(), signature},
      {"pc", "", installer.string(), signature},
      {"pc", "1..0", installer.string(), signature},
      {"pc", "1.0.1/../../x", installer.string(), signature},
      {"pc", "1.0.1", installer.string(), ""},
      {"pc", "1.0.1", installer.string(), signature.substr(4)},
      {"pc", "1.0.1", installer.string(), std::string(88, '!')},
      {"pc", "1.0.1", (service.dataDir() / "missing").string(), signature},
      {"pc", "1.0.1", empty.string(), signature},
      {"pc", "1.0.1", service.dataDir().string(), signature},
  };
  for (const Release& release : bad) {
    std::string url, error;
    EXPECT_FALSE(publishRelease(data.string(), service.database(), release, &url, &error))
        << release.version << " " << release.installer;
    EXPECT_FALSE(error.empty());
  }
  // Without the service's store there is nothing to publish into.
  std::string url, error;
  EXPECT_FALSE(publishRelease((service.dataDir() / "nowhere").string(), "",
                              {"pc", "1.0.1", installer.string(), signature}, &url, &error));

  EXPECT_EQ(versionTop(service)["info"], "1.0.0");
  EXPECT_EQ(versionTop(service)["signature"], "");
  EXPECT_FALSE(fs::exists(data / "download" / "AutoUpdate-1.0.1"));
}

// A store of the first schema gains the signature column, the tickets' order and
// the courseware's renditions.
TEST(PublishTest, AStoreOfTheFirstSchemaIsBroughtUpToDate) {
  const fs::path dir = makeTempDir();
  const std::string path = (dir / "service.db").string();
  {
    const auto db = tavsrv::openConnection(path);
    db->exec(
        "CREATE TABLE software_versions(id INTEGER PRIMARY KEY, type TEXT NOT NULL, "
        "version TEXT NOT NULL, url TEXT NOT NULL, created_ms INTEGER NOT NULL);"
        "INSERT INTO software_versions(type, version, url, created_ms) "
        "VALUES('pc', '1.0.0', 'download/x', 1);"
        "CREATE TABLE tickets(ticket TEXT PRIMARY KEY, user_id INTEGER NOT NULL, "
        "remote_addr TEXT NOT NULL, created_ms INTEGER NOT NULL, expires_ms INTEGER NOT NULL);"
        "INSERT INTO tickets VALUES('b', 1, '', 5, 9), ('a', 1, '', 5, 9);"
        "CREATE TABLE coursewares(id INTEGER PRIMARY KEY, name TEXT NOT NULL);"
        "INSERT INTO coursewares(name) VALUES('课');"
        "PRAGMA user_version = 1;");
  }
  const auto db = tavsrv::openConnection(path);
  tavsvc::ensureSchema(*db);
  EXPECT_EQ(db->queryInt("PRAGMA user_version"), tavsvc::kSchemaVersion);
  EXPECT_EQ(db->queryText("SELECT version || '|' || signature FROM software_versions"), "1.0.0|");
  // Tickets of the same millisecond keep the order they were made in.
  EXPECT_EQ(db->queryText("SELECT ticket FROM tickets ORDER BY seq DESC LIMIT 1"), "a");
  EXPECT_EQ(db->queryText("SELECT name || '|' || play_info FROM coursewares"), "课|");
  fs::remove_all(dir);
}
