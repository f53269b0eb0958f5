// Stands in for the installed client in the updater's tests: it carries a file
// version, says it runs (a line in $TAV_TEST_CLIENT_LOG) and waits to be ended.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main() {
  if (const char* log = std::getenv("TAV_TEST_CLIENT_LOG")) {
    if (FILE* f = std::fopen(log, "a")) {
      std::fprintf(f, "running %d\n", static_cast<int>(getpid()));
      std::fclose(f);
    }
  }
  for (;;)
    pause();
}
