#include "ScratchPostgres.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr int kPort = 5432;  // names the socket file only: nothing listens on TCP
constexpr const char* kSuperuser = "tav";

// The newest /usr/lib/postgresql/<version>/bin that has the server programs.
std::string findBinaries() {
  if (const char* given = std::getenv("TAV_PG_BIN"))
    return given;
  std::vector<std::pair<int, std::string>> found;
  std::error_code ec;
  for (fs::directory_iterator it("/usr/lib/postgresql", ec), end; !ec && it != end;
       it.increment(ec)) {
    const fs::path bin = it->path() / "bin";
    if (fs::exists(bin / "initdb") && fs::exists(bin / "postgres"))
      found.emplace_back(std::atoi(it->path().filename().c_str()), bin.string());
  }
  if (found.empty())
    return std::string();
  return std::max_element(found.begin(), found.end())->second;
}

std::string tail(const std::string& path) {
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.size() > 600 ? text.substr(text.size() - 600) : text;
}

}  // namespace

ScratchPostgres::ScratchPostgres(const Options& options) {
  start(options);
}

void ScratchPostgres::start(const Options& options) {
  bin_ = findBinaries();
  if (bin_.empty())
    return fail(
        "no PostgreSQL server programs in /usr/lib/postgresql/*/bin (scripts/setup "
        "installs the postgresql package)");
  std::string pattern = (fs::temp_directory_path() / "tavpgXXXXXX").string();
  if (!::mkdtemp(pattern.data()))
    return fail("cannot make a temporary folder");
  dir_ = pattern;
  if (::geteuid() == 0) {
    const passwd* user = ::getpwnam("postgres");
    if (!user)
      user = ::getpwnam("nobody");
    if (!user)
      return fail("running as root, and neither a postgres nor a nobody user to run the server as");
    uid_ = user->pw_uid;
    gid_ = user->pw_gid;
    switchUser_ = true;
    if (::chown(dir_.c_str(), uid_, gid_) != 0)
      return fail("cannot hand " + dir_ + " to the server's user");
  }
  const std::string data = dir_ + "/data";
  if (!run(bin_ + "/initdb",
           {"-D", data, "-U", kSuperuser, "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync"},
           true))
    return fail("initdb failed: " + tail(dir_ + "/log"));

  std::vector<std::string> args{"-D", data,
                                "-k", dir_,
                                "-p", std::to_string(kPort),
                                "-c", "listen_addresses=",
                                "-c", "max_connections=" + std::to_string(options.maxConnections)};
  if (!options.durable)
    for (const char* setting : {"fsync=off", "synchronous_commit=off", "full_page_writes=off"}) {
      args.push_back("-c");
      args.push_back(setting);
    }
  if (!run(bin_ + "/postgres", args, false))
    return fail("postgres did not start: " + tail(dir_ + "/log"));

  // Ready once it answers on its socket; a server that ended has said why in its log.
  const std::string conninfo =
      "host=" + dir_ + " port=" + std::to_string(kPort) + " dbname=postgres user=" + kSuperuser;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (PQping(conninfo.c_str()) != PQPING_OK) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return fail("postgres ended at its start: " + tail(dir_ + "/log"));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGQUIT);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return fail("postgres did not answer within 120 s: " + tail(dir_ + "/log"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

ScratchPostgres::~ScratchPostgres() {
  if (pid_ > 0) {
    ::kill(pid_, SIGINT);  // fast shutdown: ends the sessions still open
    ::waitpid(pid_, nullptr, 0);
  }
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

void ScratchPostgres::fail(const std::string& why) {
  why_ = why;
}

// Runs program as the server's user, its output appended to the folder's log;
// waits for it when wait is set (true when it ended well), else keeps its pid.
bool ScratchPostgres::run(const std::string& program, const std::vector<std::string>& args,
                          bool wait) {
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string log = dir_ + "/log";
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0)
    return false;
  if (pid == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
      ::close(fd);
    }
    if (switchUser_ && (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0))
      _exit(126);
    // Set after the user change, which clears it: the server stops with its owner.
    ::prctl(PR_SET_PDEATHSIG, SIGINT);
    if (::getppid() != parent)
      _exit(125);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  if (!wait) {
    pid_ = pid;
    return true;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ScratchPostgres::url(const std::string& database) const {
  return "postgresql:///" + database + "?host=" + dir_ + "&port=" + std::to_string(kPort) +
         "&user=" + kSuperuser;
}

std::string ScratchPostgres::createDatabase() {
  if (!ok())
    return std::string();
  const std::string name = "store" + std::to_string(++databases_);
  PGconn* admin = PQconnectdb(url("postgres").c_str());
  PGresult* result = PQexec(admin, ("CREATE DATABASE " + name).c_str());
  const bool made = PQresultStatus(result) == PGRES_COMMAND_OK;
  if (!made)
    why_ = std::string("CREATE DATABASE: ") + PQerrorMessage(admin);
  PQclear(result);
  PQfinish(admin);
  return made ? url(name) : std::string();
}

void ScratchPostgres::dropDatabase(const std::string& databaseUrl) {
  const size_t begin = databaseUrl.find(":///") + 4;
  const std::string name = databaseUrl.substr(begin, databaseUrl.find('?') - begin);
  PGconn* admin = PQconnectdb(url("postgres").c_str());
  PQclear(PQexec(admin, ("DROP DATABASE IF EXISTS " + name).c_str()));
  PQfinish(admin);
}

ScratchPostgres& ScratchPostgres::shared() {
  static ScratchPostgres server;
  return server;
}

}  // namespace testsupport
