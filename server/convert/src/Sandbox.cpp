#include "Sandbox.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "ChildProcess.h"
#include "convert/Converter.h"

namespace convert {

namespace fs = std::filesystem;

namespace {

// Read by LibreOffice (its registry), fontconfig and the dynamic loader (with the
// alternatives' links some libraries are reached by, FFmpeg's BLAS among them); nothing else
// of /etc.
const char* const kConfigFiles[] = {"/etc/libreoffice", "/etc/fonts", "/etc/ld.so.cache",
                                    "/etc/alternatives", "/var/cache/fontconfig"};
// Top-level folders of the system's programs: links into /usr on a merged-/usr system.
const char* const kSystemDirs[] = {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"};

}  // namespace

std::vector<std::string> sandboxed(const std::string& bwrap, const std::string& program,
                                   const std::vector<std::string>& args,
                                   const std::string& work_dir, const std::string& read_only) {
  std::vector<std::string> argv = {
      bwrap,    "--unshare-all", "--die-with-parent", "--new-session", "--clearenv", "--setenv",
      "PATH",   "/usr/bin:/bin", "--setenv",          "HOME",          work_dir,     "--setenv",
      "TMPDIR", "/tmp",          "--setenv",          "LANG",          "C.UTF-8",    "--ro-bind",
      "/usr",   "/usr"};
  for (const char* dir : kSystemDirs) {
    std::error_code ec;
    const auto status = fs::symlink_status(dir, ec);
    if (ec)
      continue;
    if (fs::is_symlink(status)) {
      argv.insert(argv.end(), {"--symlink", fs::read_symlink(dir, ec).string(), dir});
    } else if (fs::is_directory(status)) {
      argv.insert(argv.end(), {"--ro-bind", dir, dir});
    }
  }
  for (const char* path : kConfigFiles)
    argv.insert(argv.end(), {"--ro-bind-try", path, path});
  argv.insert(argv.end(), {"--proc", "/proc", "--dev", "/dev", "--tmpfs", "/tmp"});
  // A tool outside the system's folders (a stand-in, a LibreOffice of its own) is there
  // read-only.
  bool system = program.rfind("/usr/", 0) == 0;
  for (const char* dir : kSystemDirs)
    system = system || program.rfind(std::string(dir) + "/", 0) == 0;
  if (!system)
    argv.insert(argv.end(), {"--ro-bind", program, program});
  if (!read_only.empty())
    argv.insert(argv.end(), {"--ro-bind", read_only, read_only});
  argv.insert(argv.end(), {"--bind", work_dir, work_dir, "--chdir", work_dir, "--", program});
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::string sandbox_problem(const Tools& tools) {
  char pattern[] = "/tmp/tav-convert-probe-XXXXXX";
  if (!::mkdtemp(pattern))
    return "cannot make a folder to try the sandbox in";
  const std::string dir = pattern;
  const std::string log = dir + "/log";
  ChildOptions options;
  options.log_path = log;
  const std::string program = find_executable(tools.bwrap);
  ChildResult result;
  if (!program.empty()) {
    result = run_child(sandboxed(program, find_executable("sh"), {"-c", "exit 0"}, dir), options,
                       std::chrono::steady_clock::now() + std::chrono::seconds(30), {});
  }
  std::string problem;
  if (program.empty()) {
    problem = tools.bwrap + " (bubblewrap) is not installed";
  } else if (!result.ok()) {
    std::string said;
    std::getline(std::ifstream(log), said);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r'))
      said.pop_back();
    problem = "bubblewrap cannot make its namespaces here" + (said.empty() ? "" : ": " + said);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return problem;
}

}  // namespace convert
