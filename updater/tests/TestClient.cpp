// Stands in for the installed client in the updater's tests: it carries a file
// version, says it runs (a line in $TAV_TEST_CLIENT_LOG) and waits to be ended.
// Asked to quit (SIGTERM), it says so and quits by itself, as the client does.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {
volatile sig_atomic_t asked = 0;
void onQuit(int) {
  asked = 1;
}

void say(const char* what) {
  if (const char* log = std::getenv("TAV_TEST_CLIENT_LOG")) {
    if (FILE* f = std::fopen(log, "a")) {
      std::fprintf(f, "%s %d\n", what, static_cast<int>(getpid()));
      std::fclose(f);
    }
  }
}
}  // namespace

int main() {
  struct sigaction action {};
  action.sa_handler = onQuit;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  say("running");
  while (!asked)
    pause();
  say("asked to quit");
  return 0;
}
