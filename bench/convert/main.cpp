// bench-convert: a 20-slide .pptx and a 50-page .pdf (both made here with LibreOffice),
// each converted through the conversion server (in this process) by libfalco and by the
// bare tools (soffice --headless --convert-to pdf, then pdftoppm -png), then three .pptx
// conversions through the server at once. Prints time to first and to last page.
//
//   bench-convert [--slides N] [--pages N] [--at-once N]   (default 20, 50, 3)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert/Server.h"
#include "libfalco/libfalco.h"
#include "tavsrv/Credential.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double ms_since(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

// Runs argv without a shell; with `first_file`, also notes when that file appears.
struct Run {
  bool ok = false;
  Clock::time_point first, end;
};

Run run(const std::vector<std::string>& argv, const fs::path& first_file = {}) {
  Run r;
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  bool seen = first_file.empty();
  for (;;) {
    if (!seen && fs::exists(first_file)) {
      seen = true;
      r.first = Clock::now();
    }
    if (::waitpid(pid, &status, WNOHANG) == pid)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  r.end = Clock::now();
  if (!seen)
    r.first = r.end;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

class Timing : public fc_observer {
public:
  void on_progress(int curr, int total, const char*) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (curr == 1)
      first = Clock::now();
    pages = curr;
    this->total = total;
  }
  void on_error(int err) override {
    std::lock_guard<std::mutex> lock(mutex_);
    error = err;
    ended = true;
    last = Clock::now();
    cv_.notify_all();
  }
  void on_complete() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ended = true;
    last = Clock::now();
    cv_.notify_all();
  }
  void on_upload_progress(unsigned, unsigned) override {}
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return ended; });
  }
  Clock::time_point start, first, last;
  int pages = 0, total = 0, error = 0;
  bool ended = false;

private:
  std::mutex mutex_;
  std::condition_variable cv_;
};

void make_documents(const fs::path& dir, int slides, int pages) {
  std::ofstream fodp(dir / "slides.fodp");
  fodp << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
          "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
          "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
          "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
          "office:version=\"1.2\" "
          "office:mimetype=\"application/vnd.oasis.opendocument.presentation\">"
          "<office:body><office:presentation>";
  for (int slide = 1; slide <= slides; ++slide)
    fodp << "<draw:page draw:name=\"s" << slide
         << "\"><draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"24cm\" svg:height=\"12cm\">"
            "<draw:text-box><text:p>第"
         << slide << "课 Slide " << slide
         << "</text:p><text:p>Points of the lesson, a few lines of text.</text:p>"
            "</draw:text-box></draw:frame></draw:page>";
  fodp << "</office:presentation></office:body></office:document>";
  fodp.close();
  std::ofstream html(dir / "book.html");
  html << "<html><head><meta charset=\"utf-8\"></head><body>";
  for (int page = 1; page <= pages; ++page) {
    html << "<h1" << (page > 1 ? " style=\"page-break-before: always\"" : "") << ">Page " << page
         << "</h1>";
    for (int p = 0; p < 6; ++p)
      html << "<p>教案正文 A paragraph of lesson text that fills part of the page, " << p
           << ".</p>";
  }
  html << "</body></html>";
  html.close();
  const std::string profile = "-env:UserInstallation=file://" + (dir / "profile").string();
  run({"soffice", profile, "--headless", "--convert-to", "pptx", "--outdir", dir.string(),
       (dir / "slides.fodp").string()});
  run({"soffice", profile, "--headless", "--convert-to", "pdf", "--outdir", dir.string(),
       (dir / "book.html").string()});
}

// False when a conversion failed.
bool through_server(const char* label, uint16_t port, const std::vector<fs::path>& sources,
                    const fs::path& out) {
  std::vector<std::unique_ptr<Timing>> timings;
  std::vector<void*> clients;
  const auto start = Clock::now();
  for (size_t i = 0; i < sources.size(); ++i) {
    timings.push_back(std::make_unique<Timing>());
    timings.back()->start = Clock::now();
    clients.push_back(qn::create_falco_client("127.0.0.1", port, sources[i].c_str(),
                                              (out / std::to_string(i)).c_str(), 10001, 1001,
                                              timings.back().get()));
  }
  for (auto& t : timings)
    t->wait();
  const auto end = Clock::now();
  for (void* c : clients)
    qn::destory_falco_client(c);
  bool ok = true;
  for (size_t i = 0; i < timings.size(); ++i) {
    const Timing& t = *timings[i];
    ok = ok && !t.error && t.total > 0;
    if (t.error)
      std::printf("  %-28s error %d\n", label, t.error);
    else
      std::printf("  %-28s %3d pages  first %8.0f ms  last %8.0f ms\n", label, t.total,
                  ms_since(t.start, t.first), ms_since(t.start, t.last));
  }
  if (sources.size() > 1)
    std::printf("  %-28s all done after %.0f ms\n", "", ms_since(start, end));
  return ok;
}

bool bare(const char* label, const fs::path& source, const fs::path& work, int pages) {
  fs::create_directories(work);
  const auto start = Clock::now();
  fs::path pdf = source;
  if (source.extension() != ".pdf") {
    const std::string profile = "-env:UserInstallation=file://" + (work / "profile").string();
    if (!run({"soffice", profile, "--headless", "--convert-to", "pdf", "--outdir", work.string(),
              source.string()})
             .ok) {
      std::printf("  %-28s soffice failed\n", label);
      return false;
    }
    pdf = work / (source.stem().string() + ".pdf");
  }
  // pdftoppm names pages with as many digits as the last page number needs.
  const std::string digits = std::to_string(pages);
  const std::string second = std::string(digits.size() - 1, '0') + "2";
  const Run made = run({"pdftoppm", "-png", "-r", "150", pdf.string(), (work / "p").string()},
                       work / ("p-" + second + ".png"));
  std::printf("  %-28s            first %8.0f ms  last %8.0f ms%s\n", label,
              ms_since(start, made.first), ms_since(start, made.end),
              made.ok ? "" : "  (pdftoppm failed)");
  return made.ok;
}

}  // namespace

int main(int argc, char** argv) {
  // Two pages at least: the bare tools' first page shows by the second page's file.
  int slides = 20, pages = 50, at_once = 3;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string flag = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (flag == "--slides")
      slides = std::clamp(value, 2, 500);
    else if (flag == "--pages")
      pages = std::clamp(value, 2, 500);
    else if (flag == "--at-once")
      at_once = std::clamp(value, 1, 16);
  }
  char pattern[] = "/tmp/bench-convert-XXXXXX";
  if (!::mkdtemp(pattern))
    return 1;
  const fs::path dir = pattern;
  std::printf("bench-convert: making a %d-slide .pptx and a %d-page .pdf with LibreOffice...\n",
              slides, pages);
  make_documents(dir, slides, pages);
  const fs::path pptx = dir / "slides.pptx", pdf = dir / "book.pdf";
  if (!fs::exists(pptx) || !fs::exists(pdf)) {
    std::fprintf(stderr, "bench-convert: LibreOffice made no documents\n");
    return 1;
  }
  const std::string secret = "bench-secret";
  tavsrv::Credential credential{10001, 1001, 1,
                                std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                        .count() +
                                    3600 * 1000};
  qn::set_falco_credential(tavsrv::signCredential(secret, credential).c_str());
  convert::Config config;
  config.listen_port = 0;
  config.data_dir = (dir / "server").string();
  config.internal_token = secret;
  convert::Server server(config);
  const uint16_t port = server.start();
  if (!port) {
    std::fprintf(stderr, "bench-convert: %s\n", server.error().c_str());
    return 1;
  }
  // Page 2's file appears when page 1 is complete: the bare tools' first page.
  std::printf("%d-slide .pptx (%ju bytes), 150 dpi:\n", slides,
              static_cast<uintmax_t>(fs::file_size(pptx)));
  bool ok = through_server("server + libfalco", port, {pptx}, dir / "out-pptx");
  ok = bare("soffice + pdftoppm (bare)", pptx, dir / "bare-pptx", slides) && ok;
  std::printf("%d-page .pdf (%ju bytes), 150 dpi:\n", pages,
              static_cast<uintmax_t>(fs::file_size(pdf)));
  ok = through_server("server + libfalco", port, {pdf}, dir / "out-pdf") && ok;
  ok = bare("pdftoppm (bare)", pdf, dir / "bare-pdf", pages) && ok;
  if (at_once > 1) {
    std::printf("%d %d-slide .pptx at once through the server (3 converters):\n", at_once, slides);
    ok = through_server("server + libfalco", port, std::vector<fs::path>(at_once, pptx),
                        dir / "out-at-once") &&
         ok;
  }
  server.stop();
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
