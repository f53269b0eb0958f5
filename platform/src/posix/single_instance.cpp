#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

bool isDirectory(const char* path) {
  struct stat st {};
  return path && path[0] == '/' && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string lockFilePath(const std::string& name) {
  std::string safeName = name;
  for (char& c : safeName) {
    if (c == '/')
      c = '_';
  }

  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (isDirectory(runtimeDir))
    return std::string(runtimeDir) + "/" + safeName + ".lock";

  // The temp folder is shared by all users, hence the uid in the name.
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = (tmp && tmp[0] == '/') ? tmp : "/tmp";
  return dir + "/" + safeName + "-" + std::to_string(getuid()) + ".lock";
}

}  // namespace

SingleInstance::SingleInstance(const std::string& name) {
  const std::string path = lockFilePath(name);
  // O_NOFOLLOW: in a shared temp folder another user could plant a symlink.
  const int fd = open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    return;  // A broken runtime folder must not keep the program from starting.

  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    fd_ = fd;  // Held until the descriptor is closed, i.e. until we or the process die.
    return;
  }
  alreadyRunning_ = (errno == EWOULDBLOCK);
  close(fd);
}

SingleInstance::~SingleInstance() {
  // The file itself stays: unlinking it would race with a starting second copy.
  if (fd_ >= 0)
    close(fd_);
}

}  // namespace platform
