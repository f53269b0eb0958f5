// bench-chat --section NAME [section options]
// Runs one section of the chat's benchmarks (all of them without --section) and
// prints its figures. Sections: see kSections.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "Sections.h"

namespace {

struct Section {
  const char* name;
  const char* what;
  int (*run)(int argc, char** argv);
};

constexpr Section kSections[] = {
    {"transfer", "libferrum upload and download throughput, and curl's on the same file",
     &benchchat::runTransfer},
    {"text", "a text from the teacher until the last of --members N (50) shows it",
     &benchchat::runText},
    {"photo", "a 3 MB photo until a receiver shows its thumbnail", &benchchat::runPhoto},
};

void usage() {
  std::printf("usage: bench-chat [--section NAME] [options of the section]\nsections:\n");
  for (const Section& s : kSections)
    std::printf("  %-10s %s\n", s.name, s.what);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                  : qgetenv("QT_QPA_PLATFORM"));
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  const char* wanted = nullptr;
  int rest = 1;
  if (argc > 1 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    usage();
    return 0;
  }
  if (argc > 2 && !std::strcmp(argv[1], "--section")) {
    wanted = argv[2];
    rest = 3;
  }
  int status = 0;
  bool found = false;
  for (const Section& s : kSections) {
    if (wanted && std::strcmp(wanted, s.name) != 0)
      continue;
    found = true;
    // The section sees its own options after argv[0].
    argv[rest - 1] = argv[0];
    if (const int rc = s.run(argc - rest + 1, argv + rest - 1); rc != 0)
      status = rc;
  }
  if (!found) {
    std::fprintf(stderr, "bench-chat: no section \"%s\"\n", wanted);
    usage();
    return 2;
  }
  return status;
}
