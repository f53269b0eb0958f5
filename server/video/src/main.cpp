// tav-video: the video server as a program of its own.
#include "tavsrv/Program.h"
#include "tavsrv/Signals.h"
#include "video/Server.h"

namespace {

void define_flags(tavsrv::Flags& flags) {
  flags.define("listen", "",
               "address to listen on, HOST:PORT; port 0 picks one (default: "
               "127.0.0.1:<port base + 4>)");
  flags.define("port-base", std::to_string(tavsrv::kDefaultPortBase),
               "port table base: the video server is base + 4, the service base + 0");
  flags.define("data", "tav-video-data", "data folder: uploads, renditions");
  flags.define("internal-token", "",
               "the secret the service signs room credentials with (the service's "
               "--internal-token); without it every upload is refused");
  flags.define("service-url", "",
               "the service, for names and registrations (default: http://127.0.0.1:<port "
               "base>)");
  flags.define("public-url", "", "where clients reach this server (default: http://LISTEN)");
  flags.define("max-bytes", std::to_string(2ll << 30), "largest recording accepted");
  flags.define("renderers", "1", "recordings rendered at once; further ones wait");
  flags.define("threads", "16", "threads answering requests");
  flags.define("ffmpeg", "ffmpeg", "the FFmpeg program");
  flags.define("bwrap", "bwrap", "bubblewrap, FFmpeg's sandbox");
  flags.defineSwitch("unsandboxed",
                     "render without the sandbox (only where bubblewrap cannot run)");
  flags.define("log-file", "", "also log to this file");
}

bool config_from_flags(const tavsrv::Flags& flags, video::Config* config, std::string* error) {
  tavsrv::HostPort listen;
  if (!tavsrv::listenFromFlags(flags, tavsrv::RolePort::Video, 65535 - 10, &listen, error))
    return false;
  config->listen_host = listen.host;
  config->listen_port = static_cast<uint16_t>(listen.port);
  long long base = 0, value = 0;
  flags.getInt("port-base", 1, 65535 - 10, &base);
  config->data_dir = flags.get("data");
  config->internal_token = flags.get("internal-token");
  config->service_url = flags.isSet("service-url") ? flags.get("service-url")
                                                   : "http://127.0.0.1:" + std::to_string(base);
  config->public_url = flags.get("public-url");
  if (!flags.getInt("max-bytes", 1, 1ll << 40, &value)) {
    *error = "bad --max-bytes";
    return false;
  }
  config->max_recording_bytes = static_cast<uint64_t>(value);
  if (!flags.getInt("renderers", 1, 16, &value)) {
    *error = "bad --renderers";
    return false;
  }
  config->renderers = static_cast<size_t>(value);
  if (!flags.getInt("threads", 2, 256, &value)) {
    *error = "bad --threads";
    return false;
  }
  config->threads = static_cast<size_t>(value);
  config->ffmpeg = flags.get("ffmpeg");
  config->bwrap = flags.get("bwrap");
  config->sandbox = !flags.getSwitch("unsandboxed");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tavsrv::blockTerminationSignals();
  video::Config config;
  if (const auto exit = tavsrv::readProgramFlags(
          argc, argv, "tav-video",
          "The video server of the live-class system: recorded classes, their renditions, "
          "published as courseware.",
          define_flags, config_from_flags, &config))
    return *exit;
  video::Server server(config);
  // Scripts and tests wait for the line it prints.
  return tavsrv::runUntilTerminated("tav-video", server,
                                    "tav-video: listening on " + config.listen_host);
}
