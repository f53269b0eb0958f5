#include "TestCredentials.h"

#include <chrono>

#include "tavsrv/Credential.h"

namespace testsupport {

const char* const kTestSecret = "tav-test-internal-token";

std::string testCredential(uint32_t user, uint32_t room, int role, int64_t lifetimeMs) {
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  return tavsrv::signCredential(kTestSecret,
                                tavsrv::Credential{user, room, role, now + lifetimeMs});
}

}  // namespace testsupport
