#include "tavsrv/Signals.h"

#include <pthread.h>
#include <csignal>

namespace tavsrv {

namespace {
sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

void blockTerminationSignals() {
  sigset_t set = terminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A client closing its socket mid-answer must not end the process.
  std::signal(SIGPIPE, SIG_IGN);
}

int waitForTerminationSignal() {
  sigset_t set = terminationSet();
  int received = 0;
  while (sigwait(&set, &received) != 0) {
  }
  return received;
}

}  // namespace tavsrv
