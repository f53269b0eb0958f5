// Credentials for tests that start the servers themselves: the servers get this secret as
// their internal token, and the test signs what its clients show with it (or gets it from
// the service, as the client does).
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

extern const char* const kTestSecret;

// A credential signed with kTestSecret: `user` may use `room` with `role` for `lifetimeMs`
// from now (wall clock; negative: expired that long ago).
std::string testCredential(uint32_t user, uint32_t room, int role = 0,
                           int64_t lifetimeMs = 3600 * 1000);

}  // namespace testsupport
