// tav-convert: the conversion server as a program of its own, and `--once INPUT OUTDIR`
// to convert one file locally.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <vector>

#include "convert/Server.h"
#include "tavsrv/Program.h"
#include "tavsrv/Random.h"
#include "tavsrv/Signals.h"

namespace {

namespace fs = std::filesystem;

void define_flags(tavsrv::Flags& flags) {
  flags.define("listen", "",
               "address to listen on, HOST:PORT; port 0 picks one (default: "
               "127.0.0.1:<port base + 3>)");
  flags.define("port-base", std::to_string(tavsrv::kDefaultPortBase),
               "port table base: the conversion server is base + 3");
  flags.define("data", "tav-convert-data", "data folder: jobs work in DATA/jobs/");
  flags.define("internal-token", "",
               "the secret the service signs room credentials with (the service's "
               "--internal-token); without it every job is refused");
  flags.define("max-jobs", "3", "documents converted at once; further ones wait");
  flags.define("max-connections", "16", "connections open at once; more are refused as busy");
  flags.define("max-bytes", std::to_string(64 * 1024 * 1024), "largest document accepted");
  flags.define("max-pages", "200", "most pages a document may have");
  flags.define("timeout-ms", "180000", "time limit of one conversion (converter killed after)");
  flags.define("soffice", "soffice", "LibreOffice program");
  flags.define("pdfinfo", "pdfinfo", "poppler's pdfinfo");
  flags.define("pdftoppm", "pdftoppm", "poppler's pdftoppm");
  flags.define("bwrap", "bwrap", "bubblewrap, the converters' sandbox");
  flags.defineSwitch("unsandboxed",
                     "convert without the sandbox (only where bubblewrap cannot run): documents "
                     "then reach the server's files and network");
  flags.define("log-file", "", "also log to this file");
}

bool config_from_flags(const tavsrv::Flags& flags, convert::Config* config, std::string* error) {
  tavsrv::HostPort listen;
  if (!tavsrv::listenFromFlags(flags, tavsrv::RolePort::Convert, 65535 - 10, &listen, error))
    return false;
  config->listen_host = listen.host;
  config->listen_port = static_cast<uint16_t>(listen.port);
  long long value = 0;
  const struct {
    const char* name;
    long long min, max;
  } numbers[] = {{"max-jobs", 1, 64},
                 {"max-connections", 1, 4096},
                 {"max-bytes", 1, 1ll << 32},
                 {"max-pages", 1, 100000},
                 {"timeout-ms", 1000, 3600000}};
  for (const auto& n : numbers)
    if (!flags.getInt(n.name, n.min, n.max, &value)) {
      *error = std::string("bad --") + n.name;
      return false;
    }
  flags.getInt("max-jobs", 1, 64, &value);
  config->max_jobs = static_cast<size_t>(value);
  flags.getInt("max-connections", 1, 4096, &value);
  config->max_connections = static_cast<size_t>(value);
  flags.getInt("max-bytes", 1, 1ll << 32, &value);
  config->limits.max_bytes = static_cast<uint64_t>(value);
  flags.getInt("max-pages", 1, 100000, &value);
  config->limits.max_pages = static_cast<uint32_t>(value);
  flags.getInt("timeout-ms", 1000, 3600000, &value);
  config->limits.timeout = std::chrono::milliseconds(value);
  config->data_dir = flags.get("data");
  config->internal_token = flags.get("internal-token");
  config->tools.soffice = flags.get("soffice");
  config->tools.pdfinfo = flags.get("pdfinfo");
  config->tools.pdftoppm = flags.get("pdftoppm");
  config->tools.bwrap = flags.get("bwrap");
  config->tools.sandbox = !flags.getSwitch("unsandboxed");
  return true;
}

// Converts one file as the server would and stores its pages as the client does,
// "<base>_<n>.png" in outdir, printing one line per page.
int convert_once(const std::string& input, const std::string& outdir,
                 const convert::Config& config) {
  const std::string ext = convert::document_extension(input);
  if (ext.empty()) {
    std::fprintf(stderr, "tav-convert: %s: not a document type converted here\n", input.c_str());
    return 1;
  }
  std::error_code ec;
  fs::create_directories(outdir, ec);
  char pattern[] = "/tmp/tav-convert-XXXXXX";
  if (ec || !::mkdtemp(pattern)) {
    std::fprintf(stderr, "tav-convert: cannot make the work folders\n");
    return 1;
  }
  const fs::path work = pattern;
  // The copy is in the job's folder: the only one the sandboxed tools see.
  const fs::path job = work / "job";
  const fs::path copy = job / ("input." + ext);
  fs::create_directories(job, ec);
  if (!ec)
    fs::copy_file(input, copy, ec);
  if (ec) {
    std::fprintf(stderr, "tav-convert: cannot read %s: %s\n", input.c_str(), ec.message().c_str());
    fs::remove_all(work, ec);
    return 1;
  }
  const std::string base = fs::path(input).stem().string();
  convert::JobCallbacks callbacks;
  callbacks.on_page = [&](uint32_t index, uint32_t total, const std::string& png) {
    const fs::path target = fs::path(outdir) / (base + "_" + std::to_string(index) + ".png");
    const fs::path part = target.string() + ".part";
    std::error_code e;
    fs::copy_file(png, part, fs::copy_options::overwrite_existing, e);
    if (!e)
      fs::rename(part, target, e);
    if (e) {
      std::fprintf(stderr, "tav-convert: cannot store %s: %s\n", target.c_str(),
                   e.message().c_str());
      return false;
    }
    std::printf("page %u/%u %s\n", index, total, target.c_str());
    std::fflush(stdout);
    return true;
  };
  const convert::JobOutcome outcome = convert::convert_document(
      copy.string(), ext, job.string(), config.limits, config.tools, callbacks);
  fs::remove_all(work, ec);
  if (!outcome.ok) {
    std::fprintf(stderr, "tav-convert: %s: %s (%s)\n", input.c_str(),
                 falco::wire::to_string(outcome.code), outcome.reason.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string once_input, once_outdir;
  std::vector<const char*> args{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--once") {
      if (i + 2 >= argc) {
        std::cerr << "tav-convert: --once INPUT OUTDIR\n";
        return 2;
      }
      once_input = argv[i + 1];
      once_outdir = argv[i + 2];
      i += 2;
      continue;
    }
    args.push_back(argv[i]);
  }
  if (once_input.empty())
    tavsrv::blockTerminationSignals();
  convert::Config config;
  if (const auto exit =
          tavsrv::readProgramFlags(static_cast<int>(args.size()), args.data(), "tav-convert",
                                   "The document conversion server of the live-class system.\n"
                                   "tav-convert --once INPUT OUTDIR converts one file locally.",
                                   define_flags, config_from_flags, &config))
    return *exit;
  if (!once_input.empty())
    return convert_once(once_input, once_outdir, config);

  convert::Server server(config);
  // Scripts and tests wait for the line it prints.
  return tavsrv::runUntilTerminated("tav-convert", server,
                                    "tav-convert: listening on " + config.listen_host);
}
